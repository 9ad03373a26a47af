// The guarded read over the live process, and the analysis of code of this very program.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "crash/analysis/disasm/FunctionAnalysis.h"
#include "crash/analysis/disasm/win32/LiveMemory.h"

using namespace tidewell::disasm;

namespace {

__attribute__((noinline)) int Sample(int x) {
    volatile int y = x;
    return y > 3 ? y * 2 : y + 1;
}

uint64_t AddressOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }

TEST(LiveMemory, ReadsMappedMemoryAndReportsTheRest) {
    LiveMemory mem;
    uint8_t b = 0;
    EXPECT_TRUE(mem.Read(AddressOf(reinterpret_cast<const void*>(&Sample)), &b, 1));
    EXPECT_FALSE(mem.Read(0x10, &b, 1));
    EXPECT_FALSE(mem.Read(0xFFFFFFF0u, &b, 32));
    EXPECT_FALSE(mem.Read(UINT64_MAX - 15, &b, 32));  // wraps around the end of the address space
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(mem.Read(AddressOf(page), &b, 1));
    DWORD old = 0;
    VirtualProtect(page, 4096, PAGE_READWRITE, &old);
    EXPECT_TRUE(mem.Read(AddressOf(page), &b, 1));
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_FALSE(mem.Read(AddressOf(page), &b, 1));
}

TEST(LiveMemory, AnalysesOwnCode) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "this build's own code is not 32-bit x86";
    LiveMemory mem;
    FunctionInfo f = ParseFunction(mem, AddressOf(reinterpret_cast<const void*>(&Sample)));
    ASSERT_TRUE(f.IsValid) << f.LastErrorStr;
    EXPECT_GT(f.CodeLen, 5u);
    FunctionInfo none = ParseFunction(mem, 0x10);
    EXPECT_FALSE(none.IsValid);
    EXPECT_EQ(none.LastErrorNo, 87u);
}

}  // namespace
