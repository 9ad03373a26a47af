// The Win32 lookup of this test program's own addresses: module, file time, and the
// description through the process-wide cache, from the container the build wrote beside the
// exe (kesgen: real units, names and lines).
#include "crash/analysis/debuginfo/win32/Win32Modules.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

namespace {

uint64_t Address(const void *p) { return uint64_t(uintptr_t(p)); }
template <class F> uint64_t CodeAddress(F *f) { return Address(reinterpret_cast<const void *>(f)); }

const int kMarkerLine = __LINE__ + 1;
__attribute__((noinline)) int MarkerFunction(int x) { return x * 3 + 1; }

const int kCallerLine = __LINE__ + 1;
__attribute__((noinline)) TAddressDescription CallerOfDescribe() {
  return DescribeCodeAddress(0);
}

class Win32Modules : public ::testing::Test {}; // the build wrote the container beside the exe

TEST_F(Win32Modules, ModuleOfAddress) {
  auto &loc = Win32ModuleLocator::Instance();
  auto module = loc.ModuleOfAddress(CodeAddress(&MarkerFunction));
  ASSERT_TRUE(module);
  EXPECT_EQ(module->HInstance, Address(GetModuleHandleA(nullptr)));
  EXPECT_NE(module->FileName.find("debuginfo_win32_tests.exe"), std::string::npos) << module->FileName;
  EXPECT_NE(loc.FileDosDateTime(module->FileName), 0u);
  EXPECT_EQ(loc.FileDosDateTime(module->FileName + ".missing"), 0u);

  auto heap = std::make_unique<int>(1);
  if (uintptr_t(heap.get()) <= UINT32_MAX) {
    EXPECT_FALSE(loc.ModuleOfAddress(Address(heap.get())));
  }
  EXPECT_FALSE(loc.ModuleOfAddress(0x10));
  auto kernel = loc.ModuleOfAddress(CodeAddress(&GetTickCount)); // a system DLL is a module of its own
  ASSERT_TRUE(kernel);
  EXPECT_NE(kernel->HInstance, module->HInstance);
}

TEST_F(Win32Modules, DescribesOwnCode) {
  TAddressDescription d = DescribeCodeAddress(CodeAddress(&MarkerFunction));
  ASSERT_TRUE(d.Ok) << "no debug information beside the test exe";
  EXPECT_EQ(d.Unit, "Win32ModulesTest");
  EXPECT_EQ(d.FunctionName, "MarkerFunction");
  EXPECT_EQ(d.Line, kMarkerLine);
  EXPECT_EQ(d.FunctionAddress, CodeAddress(&MarkerFunction));
  EXPECT_NE(d.ModuleFileName.find("debuginfo_win32_tests.exe"), std::string::npos);

  // A null address names the caller's own call site.
  TAddressDescription here = CallerOfDescribe();
  ASSERT_TRUE(here.Ok);
  EXPECT_EQ(here.Unit, "Win32ModulesTest");
  EXPECT_EQ(here.FunctionName, "CallerOfDescribe");
  EXPECT_EQ(here.FunctionAddress, CodeAddress(&CallerOfDescribe));
  EXPECT_EQ(here.Line, kCallerLine + 1); // kesgen knows the statement's line

  // The model is cached: a second lookup reuses it.
  auto first = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), d.FunctionAddress);
  auto second = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), d.FunctionAddress);
  EXPECT_EQ(first, second);
  EXPECT_EQ(MarkerFunction(1), 4);
}

} // namespace
