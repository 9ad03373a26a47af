#include "crash/report/composition/win32/ReportComposition.h"

#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/report/composition/ReportComposer.h"
#include "crash/report/composition/win32/LiveReportFacts.h"

namespace kx {

void InstallReportComposition(int64_t (*startTime)()) {
  static KXLiveReportFacts facts(startTime);
  static KXReportComposer composer(facts);
  KXWin32ExceptionHost::Instance().SetReportComposer(&composer);
}

} // namespace kx
