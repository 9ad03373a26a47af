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
  if (e.GetBugReportHeader()->GetItemCount() > 0)
    return;
  const KXExceptionSnapshot &snapshot = e.Snapshot();
  KXCompositionResult filled;
  filled.openHeader = filled.openSections = true;
  filled.header = {{"date/time", DateTime(snapshot.creationTime)},
                   {"exception number", "1"},
                   {"exception class", e.GetExceptClass()},
                   {"exception message", e.GetExceptMessage()},
                   {"exception address", Hex8(uint32_t(e.GetExceptAddr()))},
                   {"thread id", Hex8(snapshot.crashedThreadId)}};
  filled.complete = true;
  e.ApplyComposition(filled);
}

void KXHeaderOnlyComposer::CompleteHere(TIKXException &e) {
  KXCompositionResult completed;
  completed.complete = true;
  e.ApplyComposition(completed);
}

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
