// The Win32 lookup of this test program's own addresses: module, file time, and the
// description through the process-wide cache. A 32-bit build reads the container the build
// wrote beside the exe (kesgen: real units, names and lines); a 64-bit build, linked below
// 4 GiB so its addresses fit 32 bits, writes a small container for itself first.
#include "Win32Modules.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <memory>

namespace {

constexpr bool kWide = sizeof(void *) == 8;

uint32_t Address(const void *p) { return uint32_t(uintptr_t(p)); }
template <class F> uint32_t CodeAddress(F *f) { return Address(reinterpret_cast<const void *>(f)); }

const int kMarkerLine = __LINE__ + 1;
__attribute__((noinline)) int MarkerFunction(int x) { return x * 3 + 1; }

const int kCallerLine = __LINE__ + 1;
__attribute__((noinline)) TAddressDescription CallerOfDescribe() {
  return DescribeCodeAddress(0);
}

std::string ExePath() {
  char name[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, name, MAX_PATH);
  return std::string(name, n);
}

class Win32Modules : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!kWide)
      return; // the build wrote the container
    auto headers = FileModuleFiles::Instance().ModuleHeaders(ExePath());
    auto pe = debuginfo::PeImage::Parse(headers.data(), headers.size());
    ASSERT_TRUE(pe);
    TMapFile m;
    m.SetBounds(*pe, Address(GetModuleHandleA(nullptr)));
    m.AddSegment(true, m.BaseOfCode(), m.TopOfCode() - m.BaseOfCode(), "Win32ModulesTest");
    m.AddPublic(true, "MarkerFunction", CodeAddress(&MarkerFunction));
    m.AddPublic(true, "CallerOfDescribe", CodeAddress(&CallerOfDescribe));
    m.SortPublics();
    m.AddLine(kMarkerLine, CodeAddress(&MarkerFunction));
    m.AddLine(kCallerLine, CodeAddress(&CallerOfDescribe));
    m.SortLines();
    auto bytes = m.Export(true, false, false);
    std::ofstream(TMapFile::ChangeExtension(ExePath(), ".kes"), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  }
  static void TearDownTestSuite() {
    if (kWide)
      DeleteFileA(TMapFile::ChangeExtension(ExePath(), ".kes").c_str());
  }
};

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
  if (!kWide) { // a system DLL is a module of its own
    auto kernel = loc.ModuleOfAddress(CodeAddress(&GetTickCount));
    ASSERT_TRUE(kernel);
    EXPECT_NE(kernel->HInstance, module->HInstance);
  }
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
  EXPECT_EQ(here.Line, kWide ? kCallerLine : kCallerLine + 1); // kesgen knows the statement's line

  // The model is cached: a second lookup reuses it.
  auto first = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), d.FunctionAddress);
  auto second = TModelCache::Process().ModelFor(Win32ModuleLocator::Instance(), d.FunctionAddress);
  EXPECT_EQ(first, second);
  EXPECT_EQ(MarkerFunction(1), 4);
}

} // namespace
