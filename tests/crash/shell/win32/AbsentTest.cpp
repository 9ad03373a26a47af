// The public calls while the reporter is not running: in a program without settings, and in one
// whose settings switch the reporter off. Every call does nothing and says so.
#include <gtest/gtest.h>
#include <stdexcept>

#include "crash/shell/include/kestrelix/Kestrelix.h"
#include "crash/shell/win32/KXReporter.h"

namespace {

TEST(KestrelixAbsent, EveryCallDoesNothing) {
  EXPECT_FALSE(kx::StartReporter());
  EXPECT_FALSE(kestrelix::Running());
  bool called = false;
  EXPECT_EQ(kestrelix::AddExceptionHandler([&](kestrelix::Exception &, bool &) { called = true; }), 0);
  try {
    throw std::runtime_error("nobody reports this");
  } catch (...) {
    EXPECT_FALSE(kestrelix::ReportException(std::current_exception()));
  }
  EXPECT_FALSE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("stored"))));
  EXPECT_FALSE(kestrelix::ReportException(nullptr));
  EXPECT_FALSE(kestrelix::ReportState("state"));
  kestrelix::RemoveExceptionHandler(1);
  kestrelix::Heartbeat();
  EXPECT_FALSE(called);
  kx::StopReporter();
  EXPECT_FALSE(kestrelix::Running());
}

} // namespace
