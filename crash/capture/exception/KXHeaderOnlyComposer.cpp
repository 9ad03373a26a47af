#include "crash/capture/exception/KXHeaderOnlyComposer.h"

#include <cstdio>

#include "crash/capture/exception/KXExceptionObject.h"

namespace kx {

namespace {
std::string Hex8(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", value);
  return buf;
}
std::string DateTime(const KXLocalTime &t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d, %02d:%02d:%02d, %dms", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buf;
}
} // namespace

void KXHeaderOnlyComposer::BuildLists(TIKXException &e, bool) {
  std::shared_ptr<IKXFields> header = e.GetBugReportHeader();
  if (header->GetItemCount() > 0)
    return;
  e.BeginUpdate();
  FieldsEx(*header).AcceptData();
  FieldsEx(*e.GetBugReportSections()).AcceptData();
  header->Add("date/time", DateTime(e.CreationTime()));
  header->Add("exception number", "1");
  header->Add("exception class", e.GetExceptClass());
  header->Add("exception message", e.GetExceptMessage());
  header->Add("exception address", Hex8(uint32_t(e.GetExceptAddr())));
  header->Add("thread id", Hex8(e.GetCrashedThreadId()));
  e.SetComplete(true);
  e.EndUpdate();
}

void KXHeaderOnlyComposer::CompleteHere(TIKXException &e) { e.SetComplete(true); }

std::string KXHeaderOnlyComposer::Compose(TIKXException &e) {
  std::shared_ptr<IKXFields> header = e.GetBugReportHeader();
  KXListLock lock(*header);
  size_t width = 0;
  for (int i = 0; i < header->GetItemCount(); ++i)
    width = std::max(width, header->GetItem(i).size());
  std::string text;
  for (int i = 0; i < header->GetItemCount(); ++i) {
    std::string name = header->GetItem(i);
    text += name + std::string(width + 1 - name.size(), ' ') + ": " + header->GetContent(name) + "\r\n";
  }
  return text;
}

} // namespace kx
