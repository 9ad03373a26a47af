#include "crash/base/settings/KXFields.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "crash/base/settings/KXText.h"

namespace kx {

namespace {

// Growth of the list arrays: 16 entries when empty, then by half of the count.
template <class T> void MakeRoom(std::vector<T> &v) {
  if (v.size() == v.capacity())
    v.reserve(v.empty() ? 16 : v.size() + v.size() / 2);
}

struct FieldItem {
  std::string name;
  std::string content;
};

class TKXFields final : public IKXFields, public IKXFieldsEx {
public:
  TKXFields(IKXFieldsOwner *excParent, KXMirrorFn mesParent)
      : FExcParent(excParent), FMesParent(std::move(mesParent)) {}

  void Lock() override {
    FSection.lock();
    if (FExcParent)
      FExcParent->BeginUpdate();
  }
  void Unlock() override {
    if (FExcParent)
      FExcParent->EndUpdate();
    FSection.unlock();
  }

  int GetItemCount() override {
    KXListLock g(*this);
    return int(FItems.size());
  }

  std::string GetItem(int index) override {
    KXListLock g(*this);
    return InRange(index) ? FItems[size_t(index)].name : std::string();
  }

  void SetItem(int index, const std::string &name) override {
    KXListLock g(*this);
    if (!InRange(index) || FItems[size_t(index)].name == name)
      return;
    FItems[size_t(index)].name = name;
    Changed();
  }

  int FindItem(const std::string &name) override {
    KXListLock g(*this);
    return IndexOf(name);
  }

  std::string GetContent(const std::string &name) override {
    KXListLock g(*this);
    int i = IndexOf(name);
    return i >= 0 ? FItems[size_t(i)].content : std::string();
  }

  void SetContent(const std::string &name, const std::string &content) override {
    KXListLock g(*this);
    if (!FAcceptData)
      return;
    std::string value = Trim(content);
    int i = IndexOf(name);
    if (value.empty()) {
      if (i >= 0) {
        RemoveAt(i);
        Changed();
      }
      return;
    }
    if (i < 0) {
      if (FAddIndex > 0)
        InsertAt(std::min(FAddIndex, int(FItems.size())), name, value);
      else
        InsertAt(int(FItems.size()), name, value);
      Changed();
    } else if (FItems[size_t(i)].name != name || FItems[size_t(i)].content != value) {
      FItems[size_t(i)] = {name, value};
      Changed();
    }
  }

  void Add(const std::string &name, const std::string &content) override { SetContent(name, content); }

  void Insert(int index, const std::string &name, const std::string &content) override {
    KXListLock g(*this);
    std::string value = Trim(content);
    if (!FAcceptData || value.empty())
      return;
    index = std::clamp(index, 0, int(FItems.size()));
    int old = IndexOf(name);
    if (old >= 0) {
      if (old == index && FItems[size_t(old)].content == value)
        return;
      RemoveAt(old);
      if (old < index)
        --index;
    }
    InsertAt(index, name, value);
    Changed();
  }

  void Delete(int index) override {
    KXListLock g(*this);
    if (!InRange(index))
      return;
    RemoveAt(index);
    Changed();
  }

  void Delete(const std::string &name) override {
    KXListLock g(*this);
    int i = IndexOf(name);
    if (i < 0)
      return;
    RemoveAt(i);
    Changed();
  }

  std::shared_ptr<IKXFields> Clone() override {
    KXListLock g(*this);
    auto copy = std::make_shared<TKXFields>(nullptr, KXMirrorFn());
    copy->FAcceptData = true;
    copy->FItems.reserve(FItems.capacity());
    copy->FItems = FItems;
    return copy;
  }

  void ClearExcParent() override {
    std::lock_guard g(FSection);
    FExcParent = nullptr;
  }
  void ClearMesParent() override {
    std::lock_guard g(FSection);
    FMesParent = nullptr;
  }
  void SetMesParent(KXMirrorFn mirror) override {
    std::lock_guard g(FSection);
    FMesParent = std::move(mirror);
  }
  void SetAddIndex(int addIndex) override {
    std::lock_guard g(FSection);
    FAddIndex = addIndex;
  }
  void AcceptData() override {
    std::lock_guard g(FSection);
    FAcceptData = true;
  }

  std::string Text() {
    KXListLock g(*this);
    std::string text;
    for (size_t i = 0; i < FItems.size(); ++i) {
      if (i)
        text += '|';
      text += FItems[i].name + "=" + FItems[i].content;
    }
    return text;
  }

private:
  bool InRange(int index) const { return index >= 0 && size_t(index) < FItems.size(); }

  int IndexOf(const std::string &name) const {
    for (size_t i = 0; i < FItems.size(); ++i)
      if (SameText(FItems[i].name, name))
        return int(i);
    return -1;
  }

  void InsertAt(int index, const std::string &name, const std::string &value) {
    MakeRoom(FItems);
    FItems.insert(FItems.begin() + index, FieldItem{name, value});
    if (FAddIndex > 0 && FAddIndex >= index)
      ++FAddIndex;
  }

  void RemoveAt(int index) {
    FItems.erase(FItems.begin() + index);
    if (FAddIndex > 0 && FAddIndex > index)
      --FAddIndex;
  }

  // The modification step: mirror the list and notify the owner.
  void Changed() {
    if (FMesParent)
      FMesParent(Text());
    if (FExcParent)
      FExcParent->Modified();
  }

  std::recursive_mutex FSection;
  IKXFieldsOwner *FExcParent;
  KXMirrorFn FMesParent;
  std::vector<FieldItem> FItems;
  int FAddIndex = 0;
  bool FAcceptData = false;
};

struct AttachmentItem {
  std::u16string orgFile;
  std::string sendAs, zip, field;
};

std::u16string ExtractFileNameW(const std::u16string &path) {
  size_t p = path.find_last_of(u"\\/:");
  return p == std::u16string::npos ? path : path.substr(p + 1);
}

class TKXAttachments final : public IKXAttachments, public IKXAttachmentsEx {
public:
  explicit TKXAttachments(KXMirrorFn parent) : FParent(std::move(parent)) {}

  void Lock() override { FSection.lock(); }
  void Unlock() override { FSection.unlock(); }

  int GetItemCount() override {
    std::lock_guard g(FSection);
    return int(FItems.size());
  }

  bool GetItem(int index, std::u16string &originalFile, std::string &sendAsFileName, std::string &zipFile,
               std::string &fieldName) override {
    std::lock_guard g(FSection);
    if (index < 0 || size_t(index) >= FItems.size())
      return false;
    const AttachmentItem &a = FItems[size_t(index)];
    originalFile = a.orgFile;
    sendAsFileName = a.sendAs;
    zipFile = a.zip;
    fieldName = a.field;
    return true;
  }

  void Add(const std::u16string &originalFile, const std::string &sendAsFileName, const std::string &zipFile,
           const std::string &fieldName) override {
    std::lock_guard g(FSection);
    if (originalFile.empty())
      return;
    AttachmentItem a{originalFile, sendAsFileName, zipFile, fieldName};
    if (a.sendAs.empty())
      a.sendAs = NarrowUtf16(ExtractFileNameW(originalFile));
    if (a.field.empty())
      a.field = StripExtension(a.sendAs);
    MakeRoom(FItems);
    FItems.push_back(std::move(a));
    Changed();
  }

  bool Delete(const std::u16string &originalFile) override {
    std::lock_guard g(FSection);
    for (size_t i = 0; i < FItems.size(); ++i) {
      if (SameTextW(FItems[i].orgFile, originalFile)) {
        FItems.erase(FItems.begin() + std::ptrdiff_t(i));
        Changed();
        return true;
      }
    }
    return false;
  }

  void Clear() override {
    std::lock_guard g(FSection);
    if (FItems.empty())
      return;
    FItems.clear();
    Changed();
  }

  std::shared_ptr<IKXAttachments> Clone() override {
    std::lock_guard g(FSection);
    auto copy = std::make_shared<TKXAttachments>(KXMirrorFn());
    copy->FItems = FItems;
    return copy;
  }

  void ClearParent() override {
    std::lock_guard g(FSection);
    FParent = nullptr;
  }
  void SetParent(KXMirrorFn mirror) override {
    std::lock_guard g(FSection);
    FParent = std::move(mirror);
  }

  std::string Text() {
    std::lock_guard g(FSection);
    std::string text;
    for (size_t i = 0; i < FItems.size(); ++i) {
      const AttachmentItem &a = FItems[i];
      if (i)
        text += '|';
      text += NarrowUtf16(a.orgFile) + ">" + a.sendAs + ">" + a.zip + ">" + a.field;
    }
    return text;
  }

private:
  void Changed() {
    if (FParent)
      FParent(Text());
  }

  std::recursive_mutex FSection;
  KXMirrorFn FParent;
  std::vector<AttachmentItem> FItems;
};

} // namespace

std::shared_ptr<IKXFields> NewFieldList(IKXFieldsOwner *excParent, KXMirrorFn mesParent) {
  return std::make_shared<TKXFields>(excParent, std::move(mesParent));
}

std::shared_ptr<IKXAttachments> NewAttachmentList(KXMirrorFn parent) {
  return std::make_shared<TKXAttachments>(std::move(parent));
}

IKXFieldsEx &FieldsEx(IKXFields &fields) { return dynamic_cast<IKXFieldsEx &>(fields); }

IKXAttachmentsEx &AttachmentsEx(IKXAttachments &attachments) {
  return dynamic_cast<IKXAttachmentsEx &>(attachments);
}

std::string FieldsText(IKXFields &fields) { return dynamic_cast<TKXFields &>(fields).Text(); }

void AddFieldsText(IKXFields &fields, const std::string &text) {
  if (text.empty())
    return;
  for (const std::string &item : SplitText(text, '|')) {
    size_t eq = item.find('=');
    if (eq == std::string::npos)
      fields.SetContent(item, std::string());
    else
      fields.SetContent(item.substr(0, eq), item.substr(eq + 1));
  }
}

std::string AttachmentsText(IKXAttachments &attachments) {
  return dynamic_cast<TKXAttachments &>(attachments).Text();
}

void AddAttachmentsText(IKXAttachments &attachments, const std::string &text) {
  if (text.empty())
    return;
  for (const std::string &item : SplitText(text, '|')) {
    std::vector<std::string> parts = SplitText(item, '>');
    parts.resize(std::max<size_t>(parts.size(), 4));
    attachments.Add(WidenToUtf16(parts[0]), parts[1], parts[2], parts[3]);
  }
}

} // namespace kx
