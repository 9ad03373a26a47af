#include <gtest/gtest.h>

#include "crash/base/settings/KXFields.h"

using namespace kx;

namespace {

std::shared_ptr<IKXFields> Accepting() {
  auto f = NewFieldList();
  FieldsEx(*f).AcceptData();
  return f;
}

std::string Names(IKXFields &f) {
  std::string s;
  for (int i = 0; i < f.GetItemCount(); ++i)
    s += (i ? "," : "") + f.GetItem(i);
  return s;
}

struct Owner : IKXFieldsOwner {
  int depth = 0, maxDepth = 0, modified = 0;
  void BeginUpdate() override { maxDepth = std::max(maxDepth, ++depth); }
  void EndUpdate() override { --depth; }
  void Modified() override { ++modified; }
};

} // namespace

TEST(Fields, NewListIgnoresStoresUntilItAcceptsData) {
  auto f = NewFieldList();
  f->SetContent("a", "1");
  f->Insert(0, "b", "2");
  EXPECT_EQ(f->GetItemCount(), 0);
  FieldsEx(*f).AcceptData();
  f->SetContent("a", "1");
  EXPECT_EQ(f->GetItemCount(), 1);
}

TEST(Fields, SetContentTrimsRewritesAndDeletes) {
  auto f = Accepting();
  f->SetContent("Name", "  x \t\r\n");
  EXPECT_EQ(f->GetContent("Name"), "x");
  f->SetContent("NAME", "y");
  EXPECT_EQ(Names(*f), "NAME") << "the caller's spelling";
  EXPECT_EQ(f->GetContent("name"), "y");
  f->SetContent("name", " \x01 ");
  EXPECT_EQ(f->GetItemCount(), 0);
  EXPECT_EQ(f->FindItem("name"), -1);
  EXPECT_EQ(f->GetContent("missing"), "");
  EXPECT_EQ(f->GetItem(-1), "");
  EXPECT_EQ(f->GetItem(5), "");
}

TEST(Fields, InsertNeverDuplicatesAName) {
  auto f = Accepting();
  f->Add("A", "1");
  f->Add("B", "2");
  f->Add("C", "3");
  f->Insert(2, "a", "new");
  EXPECT_EQ(Names(*f), "B,a,C");
  EXPECT_EQ(f->GetContent("A"), "new");
  f->Insert(0, "B", "2"); // same content at the same position: unchanged
  EXPECT_EQ(Names(*f), "B,a,C");
  f->Insert(0, "b", "other");
  EXPECT_EQ(Names(*f), "b,a,C");
  f->Insert(99, "b", "x");
  EXPECT_EQ(Names(*f), "a,C,b");
  f->Insert(-4, "D", "4");
  EXPECT_EQ(Names(*f), "D,a,C,b");
  f->Insert(1, "E", "   ");
  EXPECT_EQ(Names(*f), "D,a,C,b") << "empty content inserts nothing";
  for (int i = 0; i < 40; ++i)
    f->Insert(i % 3, "N" + std::to_string(i % 7), std::to_string(i));
  for (int i = 0; i < f->GetItemCount(); ++i)
    EXPECT_EQ(f->FindItem(f->GetItem(i)), i) << "duplicate " << f->GetItem(i);
}

TEST(Fields, AddIndexPlacesNewNamesAndFollowsEdits) {
  auto f = Accepting();
  f->Add("h1", "1");
  f->Add("h2", "2");
  f->Add("tail", "t");
  FieldsEx(*f).SetAddIndex(2);
  f->Add("x", "x");
  f->Add("y", "y");
  EXPECT_EQ(Names(*f), "h1,h2,x,y,tail");
  f->Delete(0);
  f->Add("z", "z");
  EXPECT_EQ(Names(*f), "h2,x,y,z,tail");
  f->Insert(0, "first", "f");
  f->Add("w", "w");
  EXPECT_EQ(Names(*f), "first,h2,x,y,z,w,tail");
  f->Add("x", "changed"); // existing name: rewritten in place
  EXPECT_EQ(Names(*f), "first,h2,x,y,z,w,tail");
  FieldsEx(*f).SetAddIndex(100); // beyond the end: append
  f->Add("end", "e");
  EXPECT_EQ(f->GetItem(f->GetItemCount() - 1), "end");
}

TEST(Fields, RenameDeleteAndClone) {
  auto f = Accepting();
  f->Add("a", "1");
  f->Add("b", "2");
  f->SetItem(0, "A2");
  f->SetItem(7, "none");
  EXPECT_EQ(Names(*f), "A2,b");
  f->Delete(std::string("B"));
  f->Delete(5);
  EXPECT_EQ(Names(*f), "A2");
  auto c = f->Clone();
  c->Add("c", "3");
  EXPECT_EQ(Names(*c), "A2,c");
  EXPECT_EQ(Names(*f), "A2");
  EXPECT_EQ(FieldsText(*c), "A2=1|c=3");
}

TEST(Fields, ChangesNotifyTheOwnerAndTheMirror) {
  Owner owner;
  std::vector<std::string> mirrored;
  auto f = NewFieldList(&owner, [&mirrored](const std::string &t) { mirrored.push_back(t); });
  FieldsEx(*f).AcceptData();
  f->Add("a", "1");
  f->Add("a", "1"); // no change
  f->Add("b", "2");
  f->Delete(std::string("nope"));
  EXPECT_EQ(owner.modified, 2);
  EXPECT_EQ(mirrored, (std::vector<std::string>{"a=1", "a=1|b=2"}));
  {
    KXListLock lock(*f); // a batch within one update bracket
    f->Add("c", "3");
    f->Delete(0);
    EXPECT_GE(owner.depth, 1);
  }
  EXPECT_EQ(owner.depth, 0);
  EXPECT_EQ(owner.modified, 4);
  FieldsEx(*f).ClearExcParent();
  FieldsEx(*f).ClearMesParent();
  f->Add("d", "4");
  EXPECT_EQ(owner.modified, 4);
  EXPECT_EQ(mirrored.size(), 4u);
}

TEST(Fields, TextForms) {
  auto f = Accepting();
  AddFieldsText(*f, "user=ann|note=a=b| =skip|solo|");
  EXPECT_EQ(Names(*f), "user,note, ");
  EXPECT_EQ(f->GetContent("note"), "a=b") << "split at the first '='";
}

TEST(Attachments, AddFillsMissingNames) {
  auto a = NewAttachmentList();
  a->Add(u"", "x", "", "");
  EXPECT_EQ(a->GetItemCount(), 0);
  a->Add(u"c:\\logs\\a.log", "", "", "");
  a->Add(u"c:\\data\\station.tar.gz", "", "logs.zip", "");
  a->Add(u"c:\\noext", "send", "", "");
  std::u16string file;
  std::string sendAs, zip, field;
  ASSERT_TRUE(a->GetItem(0, file, sendAs, zip, field));
  EXPECT_EQ(sendAs, "a.log");
  EXPECT_EQ(field, "a");
  ASSERT_TRUE(a->GetItem(1, file, sendAs, zip, field));
  EXPECT_EQ(sendAs, "station.tar.gz");
  EXPECT_EQ(field, "station.tar");
  EXPECT_EQ(zip, "logs.zip");
  ASSERT_TRUE(a->GetItem(2, file, sendAs, zip, field));
  EXPECT_EQ(field, "send");
  EXPECT_FALSE(a->GetItem(3, file, sendAs, zip, field));
  EXPECT_FALSE(a->GetItem(-1, file, sendAs, zip, field));
}

TEST(Attachments, DeleteClearCloneAndMirror) {
  std::vector<std::string> mirrored;
  auto a = NewAttachmentList([&mirrored](const std::string &t) { mirrored.push_back(t); });
  AddAttachmentsText(*a, "c:\\Logs\\\xC4.log|d:\\b.txt>B.txt>z.zip>fb>extra");
  EXPECT_EQ(a->GetItemCount(), 2);
  auto copy = a->Clone();
  EXPECT_FALSE(a->Delete(u"c:\\logs\\missing.log"));
  EXPECT_TRUE(a->Delete(u"C:\\LOGS\\\u00e4.LOG")) << "case-insensitive, Latin-1 letters too";
  EXPECT_EQ(mirrored.back(), "d:\\b.txt>B.txt>z.zip>fb");
  size_t before = mirrored.size();
  a->Clear();
  a->Clear(); // already empty: no change
  EXPECT_EQ(mirrored.size(), before + 1);
  EXPECT_EQ(mirrored.back(), "");
  EXPECT_EQ(copy->GetItemCount(), 2);
  EXPECT_EQ(AttachmentsText(*copy), "c:\\Logs\\\xC4.log>\xC4.log>>\xC4|d:\\b.txt>B.txt>z.zip>fb");
  AttachmentsEx(*a).ClearParent();
  a->Add(u"x", "", "", "");
  EXPECT_EQ(mirrored.size(), before + 1);
}
