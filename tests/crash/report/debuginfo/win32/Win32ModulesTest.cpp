// The Win32 lookup of this test program's own addresses: module, file time, and the
// description from the container the build wrote beside the exe.
#include "Win32Modules.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

namespace {

const int kMarkerLine = __LINE__ + 1;
__attribute__((noinline)) int MarkerFunction(int x) { return x * 3 + 1; }

uint32_t Address(const void *p) { return uint32_t(uintptr_t(p)); }

TEST(Win32Modules, ModuleOfAddress) {
  auto &loc = Win32ModuleLocator::Instance();
  auto module = loc.ModuleOfAddress(Address(reinterpret_cast<const void *>(&MarkerFunction)));
  ASSERT_TRUE(module);
  EXPECT_EQ(module->HInstance, Address(GetModuleHandleA(nullptr)));
  EXPECT_NE(module->FileName.find("debuginfo_win32_tests.exe"), std::string::npos) << module->FileName;
  EXPECT_NE(loc.FileDosDateTime(module->FileName), 0u);
  EXPECT_EQ(loc.FileDosDateTime(module->FileName + ".missing"), 0u);

  auto heap = std::make_unique<int>(1);
  EXPECT_FALSE(loc.ModuleOfAddress(Address(heap.get())));
  EXPECT_FALSE(loc.ModuleOfAddress(0x10));
  // A system DLL is a module of its own.
  auto kernel = loc.ModuleOfAddress(Address(reinterpret_cast<const void *>(&GetTickCount)));
  ASSERT_TRUE(kernel);
  EXPECT_NE(kernel->HInstance, module->HInstance);
}

TEST(Win32Modules, DescribesOwnCode) {
  TAddressDescription d = DescribeCodeAddress(Address(reinterpret_cast<const void *>(&MarkerFunction)));
  ASSERT_TRUE(d.Ok) << "no debug information beside the test exe";
  EXPECT_EQ(d.Unit, "Win32ModulesTest");
  EXPECT_EQ(d.FunctionName, "MarkerFunction");
  EXPECT_EQ(d.Line, kMarkerLine);
  EXPECT_EQ(d.FunctionAddress, Address(reinterpret_cast<const void *>(&MarkerFunction)));

  const int callLine = __LINE__ + 1;
  TAddressDescription here = DescribeCodeAddress(0);
  ASSERT_TRUE(here.Ok);
  EXPECT_EQ(here.Unit, "Win32ModulesTest");
  EXPECT_EQ(here.Line, callLine);
  EXPECT_NE(here.FunctionName.find("DescribesOwnCode"), std::string::npos) << here.FunctionName;

  // The model is cached: a second description reuses it.
  auto first = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), d.FunctionAddress);
  auto second = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), d.FunctionAddress);
  EXPECT_EQ(first, second);
  EXPECT_EQ(MarkerFunction(1), 4);
}

} // namespace
