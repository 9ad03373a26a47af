#pragma once
// The fixture of the exception tests: a fake host over a stream the test gives.
#include <gtest/gtest.h>

#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHandlers.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/FakeHost.h"

namespace kx::test {

// A class the program's first filter names through its ancestor.
class ChildOfDBEditError : public EDBEditError {
public:
  using EDBEditError::EDBEditError;
};

// A fake host over the settings of an executable whose stream the test gives; no handlers, no
// exception times and no host are left behind.
class HostTest : public ::testing::Test {
protected:
  FakePlatform platform;
  std::unique_ptr<FakeHost> host;

  void UseStream(StreamBuilder stream) {
    platform.streams[kExe] = stream.End();
    auto context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
    host = std::make_unique<FakeHost>(CreateModuleSettings(context, kExe));
    SetExceptionHost(host.get());
  }
  void TearDown() override {
    ClearExceptionHandlers();
    SetExceptionTimes({});
    SetExceptionHost(nullptr);
  }
  std::shared_ptr<TIKXException> Create(KXExceptObject object, bool canContinue = true) {
    KXCaughtException c;
    c.exceptObject = object;
    c.exceptAddr = 0x401234;
    c.canContinue = canContinue;
    return CreateExceptionObject(c);
  }
};

} // namespace kx::test
