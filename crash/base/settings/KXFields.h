#pragma once
// IKXFields (an ordered list of name/content text pairs) and IKXAttachments (an ordered list of
// attachment records), each with its own lock. Both can mirror themselves into a settings text
// (AddFields, AddAttachs) on every change.
#include <functional>
#include <memory>
#include <string>

namespace kx {

// The owner notified by a field list that belongs to an exception object: Lock/Unlock of the list
// open and close the owner's update bracket, and every change marks the owner modified.
class IKXFieldsOwner {
public:
  virtual ~IKXFieldsOwner() = default;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void Modified() = 0;
};

// Receives the whole list as text after every change (the settings object writing AddFields or
// AddAttachs).
using KXMirrorFn = std::function<void(const std::string &text)>;

class IKXFields {
public:
  virtual ~IKXFields() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual int GetItemCount() = 0;
  // The name of an item; "" outside the range.
  virtual std::string GetItem(int index) = 0;
  // Renames an item when the name differs.
  virtual void SetItem(int index, const std::string &name) = 0;
  // Index of the first item whose name equals case-insensitively, -1 if none.
  virtual int FindItem(const std::string &name) = 0;
  virtual std::string GetContent(const std::string &name) = 0;
  // Stores the trimmed content; an empty content deletes the item. New names go to the add
  // position (when above 0) or to the end; an existing item takes the caller's spelling.
  virtual void SetContent(const std::string &name, const std::string &content) = 0;
  virtual void Add(const std::string &name, const std::string &content) = 0;
  // Inserts at the clamped index, removing an item of the same name first.
  virtual void Insert(int index, const std::string &name, const std::string &content) = 0;
  virtual void Delete(int index) = 0;
  virtual void Delete(const std::string &name) = 0;
  // A new list, accepting data, with the same pairs in order.
  virtual std::shared_ptr<IKXFields> Clone() = 0;
};

class IKXFieldsEx {
public:
  virtual ~IKXFieldsEx() = default;
  virtual void ClearExcParent() = 0;
  virtual void ClearMesParent() = 0;
  // Ties the list to a settings text: mirror receives the list's text after every change.
  virtual void SetMesParent(KXMirrorFn mirror) = 0;
  // Position for new names; 0 or less appends.
  virtual void SetAddIndex(int addIndex) = 0;
  // A new list ignores every store until this is called.
  virtual void AcceptData() = 0;
};

class IKXAttachments {
public:
  virtual ~IKXAttachments() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual int GetItemCount() = 0;
  // False outside the range.
  virtual bool GetItem(int index, std::u16string &originalFile, std::string &sendAsFileName, std::string &zipFile,
                       std::string &fieldName) = 0;
  // Appends a record. An empty path is ignored; an empty send-as name becomes the file name;
  // an empty field name becomes the send-as name without its last extension.
  virtual void Add(const std::u16string &originalFile, const std::string &sendAsFileName, const std::string &zipFile,
                   const std::string &fieldName) = 0;
  // Removes the first record whose path equals case-insensitively.
  virtual bool Delete(const std::u16string &originalFile) = 0;
  virtual void Clear() = 0;
  virtual std::shared_ptr<IKXAttachments> Clone() = 0;
};

class IKXAttachmentsEx {
public:
  virtual ~IKXAttachmentsEx() = default;
  virtual void ClearParent() = 0;
  virtual void SetParent(KXMirrorFn mirror) = 0;
};

// A new field list. It ignores stores until AcceptData is called.
std::shared_ptr<IKXFields> NewFieldList(IKXFieldsOwner *excParent = nullptr, KXMirrorFn mesParent = {});
// A new, empty attachment list.
std::shared_ptr<IKXAttachments> NewAttachmentList(KXMirrorFn parent = {});

// The companion interfaces of lists made by the functions above.
IKXFieldsEx &FieldsEx(IKXFields &fields);
IKXAttachmentsEx &AttachmentsEx(IKXAttachments &attachments);

// The text forms: "name=content|..." and "file>sendAs>zip>field|...".
std::string FieldsText(IKXFields &fields);
void AddFieldsText(IKXFields &fields, const std::string &text);
std::string AttachmentsText(IKXAttachments &attachments);
void AddAttachmentsText(IKXAttachments &attachments, const std::string &text);

// Holds a list's lock for a scope.
template <class List> class KXListLock {
public:
  explicit KXListLock(List &list) : FList(list) { FList.Lock(); }
  ~KXListLock() { FList.Unlock(); }
  KXListLock(const KXListLock &) = delete;
  KXListLock &operator=(const KXListLock &) = delete;

private:
  List &FList;
};

} // namespace kx
