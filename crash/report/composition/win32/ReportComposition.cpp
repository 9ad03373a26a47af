#include "ReportComposition.h"

#include "KXWin32ExceptionHost.h"
#include "LiveReportFacts.h"
#include "ReportComposer.h"

namespace kx {

void InstallReportComposition(int64_t (*startTime)()) {
  static KXLiveReportFacts facts(startTime);
  static KXReportComposer composer(facts);
  KXWin32ExceptionHost::Instance().SetReportComposer(&composer);
}

} // namespace kx
