// The x86-64 unwinder over a synthetic process: a PE32+ image based above 4 GiB with an
// exception directory, unwind records and code bytes, and a stack. Each case puts the frame's
// saved values at known places and checks every register of the caller.
#include "crash/analysis/stacktrace/X64Unwinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace tidewell::stacktrace {
namespace {

using debuginfo::PeRuntimeFunction;

constexpr uint64_t kBase = 0x00007FF6'12340000ull;
constexpr uint32_t kImageSize = 0x8000, kXdata = 0x4000, kPdata = 0x7000;
constexpr uint64_t kStackBase = 0x000000E1'00000000ull, kStackSize = 0x100000;
// The caller's RSP after the return, in most cases.
constexpr uint64_t kCaller = kStackBase + 0xA0000;

// The traced process's memory: regions at their addresses.
class Process : public debuginfo::PeSource {
public:
  mutable size_t reads = 0;
  std::vector<uint8_t> &Map(uint64_t base, size_t size) {
    std::vector<uint8_t> &r = FRegions[base];
    r.assign(size, 0);
    return r;
  }
  bool Read(uint64_t address, void *out, size_t size) const override {
    ++reads;
    auto it = FRegions.upper_bound(address);
    if (it == FRegions.begin())
      return false;
    --it;
    const uint64_t at = address - it->first;
    if (at > it->second.size() || size > it->second.size() - at)
      return false;
    std::memcpy(out, it->second.data() + at, size);
    return true;
  }
  void Put(uint64_t address, const void *data, size_t size) {
    auto it = FRegions.upper_bound(address);
    ASSERT_NE(it, FRegions.begin());
    --it;
    ASSERT_LE(address - it->first + size, it->second.size()) << std::hex << address;
    std::memcpy(it->second.data() + (address - it->first), data, size);
  }
  void Put64(uint64_t address, uint64_t value) { Put(address, &value, 8); }
  void Put32(uint64_t address, uint32_t value) { Put(address, &value, 4); }

private:
  std::map<uint64_t, std::vector<uint8_t>> FRegions;
};

// One unwind code slot: offset in the prolog, operation, operation information.
uint16_t Op(uint8_t offset, uint8_t op, uint8_t info) { return uint16_t(offset | (op | info << 4) << 8); }

// An UNWIND_INFO record.
std::vector<uint8_t> Info(uint8_t prolog, std::vector<uint16_t> slots, uint8_t frameRegister = 0,
                          uint8_t frameOffset = 0, uint8_t flags = 0, uint8_t version = 1) {
  std::vector<uint8_t> b = {uint8_t(version | flags << 3), prolog, uint8_t(slots.size()),
                            uint8_t(frameRegister | frameOffset << 4)};
  if (slots.size() % 2)
    slots.push_back(0);
  for (uint16_t s : slots) {
    b.push_back(uint8_t(s));
    b.push_back(uint8_t(s >> 8));
  }
  return b;
}

// A record chained to the entry given.
std::vector<uint8_t> Chained(uint8_t prolog, std::vector<uint16_t> slots, PeRuntimeFunction parent) {
  std::vector<uint8_t> b = Info(prolog, std::move(slots), 0, 0, debuginfo::kUnwindFlagChainInfo);
  for (uint32_t v : {parent.Begin, parent.End, parent.UnwindInfo})
    for (int i = 0; i < 4; ++i)
      b.push_back(uint8_t(v >> (8 * i)));
  return b;
}

class X64Unwind : public ::testing::Test {
protected:
  Process process;
  std::vector<PeRuntimeFunction> entries;
  uint32_t nextInfo = kXdata;

  X64Unwind() {
    process.Map(kBase, kImageSize);
    process.Map(kStackBase, kStackSize);
    // DOS header, PE signature, file header, PE32+ optional header, one section.
    process.Put(kBase, "MZ", 2);
    process.Put32(kBase + 0x3C, 0x40);
    process.Put32(kBase + 0x40, 0x4550);
    const uint16_t fileHeader[] = {0x8664, 1, 0, 0, 0, 0, 0, 0, 240, 0x22};
    process.Put(kBase + 0x44, fileHeader, sizeof fileHeader);
    const uint64_t oh = kBase + 0x58;
    const uint16_t magic = 0x20B;
    process.Put(oh, &magic, 2);
    process.Put64(oh + 24, kBase);
    process.Put32(oh + 32, 0x1000);
    process.Put32(oh + 36, 0x200);
    process.Put32(oh + 56, kImageSize);
    process.Put32(oh + 60, 0x400);
    process.Put32(oh + 108, 16);
    process.Put(oh + 240, ".text", 5);
    process.Put32(oh + 240 + 8, 0x3000);
    process.Put32(oh + 240 + 12, 0x1000);
    process.Put32(oh + 240 + 36, 0x60000020);
    SetDirectory(kPdata, 0);
  }

  void SetDirectory(uint32_t rva, uint32_t size) {
    process.Put32(kBase + 0x58 + 112 + 3 * 8, rva);
    process.Put32(kBase + 0x58 + 112 + 3 * 8 + 4, size);
  }
  void Code(uint32_t rva, const std::vector<uint8_t> &bytes) { process.Put(kBase + rva, bytes.data(), bytes.size()); }
  uint32_t Unwind(const std::vector<uint8_t> &record) {
    const uint32_t rva = nextInfo;
    process.Put(kBase + rva, record.data(), record.size());
    nextInfo = (rva + uint32_t(record.size()) + 3) & ~3u;
    return rva;
  }
  // An entry of the exception directory, kept sorted.
  PeRuntimeFunction Function(uint32_t begin, uint32_t end, uint32_t info) {
    entries.push_back({begin, end, info});
    std::sort(entries.begin(), entries.end(),
              [](const PeRuntimeFunction &a, const PeRuntimeFunction &b) { return a.Begin < b.Begin; });
    for (size_t i = 0; i < entries.size(); ++i) {
      process.Put32(kBase + kPdata + 12 * i, entries[i].Begin);
      process.Put32(kBase + kPdata + 12 * i + 4, entries[i].End);
      process.Put32(kBase + kPdata + 12 * i + 8, entries[i].UnwindInfo);
    }
    SetDirectory(kPdata, uint32_t(12 * entries.size()));
    return {begin, end, info};
  }

  // A frame with distinct stale values in every register.
  static X64Context Frame(uint32_t ripRva, uint64_t rsp) {
    X64Context c;
    for (size_t i = 0; i < 16; ++i)
      c.gpr[i] = 0x5A5A000000000000ull + i;
    c.gpr[kX64Rsp] = rsp;
    c.rip = kBase + ripRva;
    return c;
  }
};

// Compares every register and what is known; a message names the case.
void ExpectContext(const X64Context &actual, const X64Context &expected, const std::string &label) {
  for (size_t i = 0; i < 16; ++i)
    EXPECT_EQ(actual.gpr[i], expected.gpr[i]) << label << ": register " << i;
  EXPECT_EQ(actual.rip, expected.rip) << label << ": rip";
  EXPECT_EQ(actual.known, expected.known) << label << ": known";
}

std::string Hex(uint64_t v) {
  char b[32];
  std::snprintf(b, sizeof b, "%#llx", static_cast<unsigned long long>(v));
  return b;
}

// push rbp; push r12; push rsi; sub rsp, 0x28 — at every instruction boundary of the prolog, in the
// body, and at every instruction of its epilog (add rsp; pop rsi; pop r12; pop rbp; ret), where the
// codes would give wrong values.
TEST_F(X64Unwind, PushAndAllocationPrologAndItsEpilog) {
  Code(0x1000, {0x55, 0x41, 0x54, 0x56, 0x48, 0x83, 0xEC, 0x28, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,
                0x48, 0x83, 0xC4, 0x28, 0x5E, 0x41, 0x5C, 0x5D, 0xC3});
  Function(0x1000, 0x1019, Unwind(Info(8, {Op(8, 2, 4), Op(4, 0, kX64Rsi), Op(3, 0, kX64R12), Op(1, 0, kX64Rbp)})));
  const uint64_t ret = kBase + 0x2222;
  process.Put64(kCaller - 8, ret);
  process.Put64(kCaller - 16, 0xB0B0);
  process.Put64(kCaller - 24, 0x1212);
  process.Put64(kCaller - 32, 0x5151);

  struct Case {
    uint32_t offset;
    uint64_t rsp;
    int pushed; // how many of rbp, r12, rsi the unwind reads back
    X64UnwindResult result;
  };
  const Case cases[] = {
      {0x0, kCaller - 8, 0, X64UnwindResult::Unwound},         {0x1, kCaller - 16, 1, X64UnwindResult::Unwound},
      {0x3, kCaller - 24, 2, X64UnwindResult::Unwound},        {0x4, kCaller - 32, 3, X64UnwindResult::Unwound},
      {0x8, kCaller - 32 - 0x28, 3, X64UnwindResult::Unwound}, {0xC, kCaller - 32 - 0x28, 3, X64UnwindResult::Unwound},
      {0x10, kCaller - 32 - 0x28, 3, X64UnwindResult::Epilog}, {0x14, kCaller - 32, 3, X64UnwindResult::Epilog},
      {0x15, kCaller - 24, 2, X64UnwindResult::Epilog},        {0x17, kCaller - 16, 1, X64UnwindResult::Epilog},
      {0x18, kCaller - 8, 0, X64UnwindResult::Epilog},
  };
  for (const Case &c : cases) {
    X64Context context = Frame(0x1000 + c.offset, c.rsp);
    X64Context expected = context;
    expected.rip = ret;
    expected.gpr[kX64Rsp] = kCaller;
    const uint8_t regs[] = {kX64Rbp, kX64R12, kX64Rsi};
    const uint64_t values[] = {0xB0B0, 0x1212, 0x5151};
    for (int i = 0; i < c.pushed; ++i)
      expected.gpr[regs[i]] = values[i];
    expected.known = kX64Nonvolatile | kX64KnownRip;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), c.result) << "offset " << Hex(c.offset);
    ExpectContext(context, expected, "offset " + Hex(c.offset));
  }

  // What is known: RIP, RSP, what was read back, and the nonvolatile registers known before.
  X64Context context = Frame(0x1008, kCaller - 32 - 0x28);
  context.known = (1u << kX64Rsp) | (1u << kX64Rbx) | (1u << kX64Rcx) | kX64KnownRip;
  ASSERT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound);
  EXPECT_EQ(context.known, (1u << kX64Rsp) | (1u << kX64Rbx) | (1u << kX64Rbp) | (1u << kX64R12) |
                               (1u << kX64Rsi) | kX64KnownRip);
}

// push rbp; sub rsp, 0x40; lea rbp, [rsp + 0x20]; mov [rbp + 0x38], rsi: the frame register
// gives RSP and the frame base once the lea has run, even after the body moved RSP further
// down; before, RSP does. The epilog lea rsp, [rbp + 0x20]; pop rbp; ret is simulated; one
// whose lea uses another register is no epilog.
TEST_F(X64Unwind, FramePointerAndSaveAtFrameBase) {
  Code(0x1100, {0x55, 0x48, 0x83, 0xEC, 0x40, 0x48, 0x8D, 0x6C, 0x24, 0x20, 0x48, 0x89, 0x75, 0x38, 0x90, 0x90});
  Code(0x1120, {0x48, 0x8D, 0x65, 0x20, 0x5D, 0xC3});
  Code(0x1128, {0x48, 0x8D, 0x63, 0x20, 0x5D, 0xC3}); // lea rsp, [rbx + 0x20]
  Function(0x1100, 0x1130,
           Unwind(Info(14, {Op(14, 4, kX64Rsi), 0x58 / 8, Op(10, 3, 0), Op(5, 2, 7), Op(1, 0, kX64Rbp)}, kX64Rbp, 2)));
  const uint64_t s = kCaller - 0x50; // RSP after the prolog
  const uint64_t ret = kBase + 0x3333;
  process.Put64(s + 0x48, ret);
  process.Put64(s + 0x40, 0xB0B0); // rbp
  process.Put64(s + 0x58, 0x5151); // rsi, in the caller's home area

  struct Case {
    uint32_t offset;
    uint64_t rsp, rbp;
    bool rsi;
    X64UnwindResult result;
  };
  const uint64_t stale = 0x5A5A000000000000ull + kX64Rbp;
  const Case cases[] = {
      {0x1, kCaller - 16, stale, false, X64UnwindResult::Unwound},
      {0x5, s, stale, false, X64UnwindResult::Unwound}, // the frame register is not set yet
      {0xA, s - 0x100, s + 0x20, false, X64UnwindResult::Unwound},
      {0xE, s - 0x100, s + 0x20, true, X64UnwindResult::Unwound},
      {0x20, s - 0x100, s + 0x20, false, X64UnwindResult::Epilog},
      {0x28, s - 0x100, s + 0x20, true, X64UnwindResult::Unwound},
  };
  for (const Case &c : cases) {
    X64Context context = Frame(0x1100 + c.offset, c.rsp);
    context.gpr[kX64Rbp] = c.rbp;
    X64Context expected = context;
    expected.rip = ret;
    expected.gpr[kX64Rsp] = kCaller;
    if (c.offset >= 1)
      expected.gpr[kX64Rbp] = 0xB0B0;
    if (c.rsi)
      expected.gpr[kX64Rsi] = 0x5151;
    expected.known = kX64Nonvolatile | kX64KnownRip;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), c.result) << "offset " << Hex(c.offset);
    ExpectContext(context, expected, "offset " + Hex(c.offset));
  }
}

// sub rsp, 0x28; mov [rsp + 0x30], rbx (SAVE_NONVOL); then rdi at 0x40038 (SAVE_NONVOL_FAR, whose
// offset needs both halves); and the two forms of ALLOC_LARGE.
TEST_F(X64Unwind, SavesAndLargeAllocations) {
  Function(0x1200, 0x1240,
           Unwind(Info(17, {Op(17, 5, kX64Rdi), 0x0038, 0x0004, Op(9, 4, kX64Rbx), 0x30 / 8, Op(4, 2, 4)})));
  const uint64_t s = kCaller - 0x30;
  process.Put64(s + 0x28, kBase + 0x4444);
  process.Put64(s + 0x30, 0xB8B8);
  process.Put64(s + 0x40038, 0xD1D1);
  for (uint32_t offset : {0u, 4u, 9u, 17u, 0x20u}) {
    X64Context context = Frame(0x1200 + offset, offset == 0 ? kCaller - 8 : s);
    X64Context expected = context;
    expected.rip = kBase + 0x4444;
    expected.gpr[kX64Rsp] = kCaller;
    if (offset >= 9)
      expected.gpr[kX64Rbx] = 0xB8B8;
    if (offset >= 17)
      expected.gpr[kX64Rdi] = 0xD1D1;
    expected.known = kX64Nonvolatile | kX64KnownRip;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound) << offset;
    ExpectContext(context, expected, "offset " + Hex(offset));
  }

  Function(0x1300, 0x1310, Unwind(Info(7, {Op(7, 1, 0), 0x2000 / 8})));
  Function(0x1340, 0x1350, Unwind(Info(7, {Op(7, 1, 1), 0x0010, 0x0009})));
  for (auto [rva, size] : {std::pair<uint32_t, uint64_t>{0x1308, 0x2000}, {0x1348, 0x90010}}) {
    process.Put64(kCaller - 8, kBase + rva + 0x100);
    X64Context context = Frame(rva, kCaller - 8 - size);
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound) << Hex(size);
    EXPECT_EQ(context.gpr[kX64Rsp], kCaller) << Hex(size);
    EXPECT_EQ(context.rip, kBase + rva + 0x100) << Hex(size);
  }
}

// A fragment of a function (a shrink-wrapped part that saves rsi) chained to the primary
// record (push rbx; sub rsp, 0x20): the primary's codes all apply wherever RIP is in the
// fragment, the fragment's own only as far as its prolog has run.
TEST_F(X64Unwind, ChainedRecords) {
  const PeRuntimeFunction primary = Function(0x1400, 0x1440, Unwind(Info(5, {Op(5, 2, 3), Op(1, 0, kX64Rbx)})));
  Function(0x1480, 0x14A0, Unwind(Chained(5, {Op(5, 4, kX64Rsi), 0x38 / 8}, primary)));
  const uint64_t s = kCaller - 0x30;
  process.Put64(s + 0x28, kBase + 0x5555);
  process.Put64(s + 0x20, 0xB8B8);
  process.Put64(s + 0x38, 0x5151);
  for (uint32_t offset : {0u, 5u, 0x10u}) {
    X64Context context = Frame(0x1480 + offset, s);
    X64Context expected = context;
    expected.rip = kBase + 0x5555;
    expected.gpr[kX64Rsp] = kCaller;
    expected.gpr[kX64Rbx] = 0xB8B8;
    if (offset >= 5)
      expected.gpr[kX64Rsi] = 0x5151;
    expected.known = kX64Nonvolatile | kX64KnownRip;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound) << offset;
    ExpectContext(context, expected, "offset " + Hex(offset));
  }
}

// A chain of exactly kX64MaxChain records is followed; one more link, or a record chained to
// itself, is malformed.
TEST_F(X64Unwind, ChainLengthIsBounded) {
  for (size_t length : {kX64MaxChain, kX64MaxChain + 1}) {
    PeRuntimeFunction parent{0x1600, 0x1640, Unwind(Info(0, {Op(0, 2, 0)}))}; // 8 bytes
    for (size_t i = 1; i < length; ++i)
      parent = {0x1600, 0x1640, Unwind(Chained(0, {Op(0, 2, 0)}, parent))};
    const uint32_t begin = length == kX64MaxChain ? 0x1500 : 0x1540;
    Function(begin, begin + 0x10, parent.UnwindInfo);
    const uint64_t rsp = kCaller - 8 - 8 * length;
    process.Put64(kCaller - 8, kBase + 0x6666);
    X64Context context = Frame(begin + 4, rsp);
    const X64Context before = context;
    if (length == kX64MaxChain) {
      EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound);
      EXPECT_EQ(context.gpr[kX64Rsp], kCaller);
      EXPECT_EQ(context.rip, kBase + 0x6666);
    } else {
      EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::BadUnwindInfo);
      ExpectContext(context, before, "too long");
    }
  }
  // A record chained to itself.
  const uint32_t self = nextInfo;
  EXPECT_EQ(Unwind(Chained(0, {Op(0, 2, 0)}, {0x1580, 0x1590, self})), self);
  Function(0x1580, 0x1590, self);
  X64Context context = Frame(0x1584, kCaller - 0x100);
  process.reads = 0;
  EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::BadUnwindInfo);
  EXPECT_LT(process.reads, 200u);
}

// A machine frame (RIP, CS, EFLAGS, RSP, SS) without and with an error code below it, and one
// below an allocation; the unwind takes RIP and RSP from it and pops no return address.
TEST_F(X64Unwind, MachineFrames) {
  Function(0x1700, 0x1710, Unwind(Info(0, {Op(0, 10, 0)})));
  Function(0x1720, 0x1730, Unwind(Info(4, {Op(4, 2, 1), Op(0, 10, 1)})));
  struct Case {
    uint32_t rip;
    uint64_t frame, rsp;
  };
  const uint64_t r = kCaller - 0x100;
  for (const Case &c : {Case{0x1704, r, r}, Case{0x1724, r + 0x18, r}}) {
    process.Put64(c.frame, kBase + 0x7777);
    process.Put64(c.frame + 8, 0x33);
    process.Put64(c.frame + 16, 0x246);
    process.Put64(c.frame + 24, kCaller + 0x1000);
    process.Put64(c.frame + 32, 0x2B);
    X64Context context = Frame(c.rip, c.rsp);
    X64Context expected = context;
    expected.rip = kBase + 0x7777;
    expected.gpr[kX64Rsp] = kCaller + 0x1000;
    expected.known = kX64Nonvolatile | kX64KnownRip;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::MachineFrame) << Hex(c.rip);
    ExpectContext(context, expected, Hex(c.rip));
  }
  // A frame whose RSP lies below the current one would let a tracer loop.
  process.Put64(r + 24, r - 0x40);
  X64Context context = Frame(0x1704, r);
  const X64Context before = context;
  EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::NoProgress);
  ExpectContext(context, before, "no progress");
}

// Epilogs that end in a tail call or ret imm16, after push rbx; sub rsp, 0x20. RIP at the pop,
// where the codes would add 0x20 once more. A jmp back into the function is no epilog.
TEST_F(X64Unwind, EpilogTailCallsAndReturns) {
  Function(0x1800, 0x1880, Unwind(Info(5, {Op(5, 2, 3), Op(1, 0, kX64Rbx)})));
  // pop rbx at each, then:
  Code(0x1810, {0x5B, 0xE9, 0x00, 0x10, 0x00, 0x00});       // jmp rel32 out
  Code(0x1820, {0x5B, 0xEB, 0x60});                         // jmp rel8 to 0x1883, out
  Code(0x1830, {0x5B, 0xFF, 0x25, 0x10, 0x00, 0x00, 0x00}); // jmp [rip + 0x10]
  Code(0x1840, {0x5B, 0x48, 0xFF, 0x25, 0, 0, 0, 0});       // rex.w jmp [rip]
  Code(0x1850, {0x5B, 0xC2, 0x10, 0x00});                   // ret 0x10
  Code(0x1858, {0x5B, 0xF3, 0xC3});                         // rep ret
  Code(0x1860, {0x5B, 0xE9, 0xA0, 0xFF, 0xFF, 0xFF});       // jmp rel32 to 0x1806, inside
  Code(0x1868, {0x5B, 0xEB, 0x96});                         // jmp rel8 to 0x1801, inside
  Code(0x1870, {0x5B, 0x90, 0xC3});                         // not an epilog's form
  process.Put64(kCaller - 8, kBase + 0x8888);
  process.Put64(kCaller - 16, 0xB8B8);
  // What the codes give from RSP = kCaller - 16.
  process.Put64(kCaller + 0x10, 0xC0DE);
  process.Put64(kCaller + 0x18, kBase + 0x9999);
  struct Case {
    uint32_t rva;
    bool epilog;
    uint64_t extra;
  };
  for (const Case &c : {Case{0x1810, true, 0}, Case{0x1820, true, 0}, Case{0x1830, true, 0}, Case{0x1840, true, 0},
                        Case{0x1850, true, 0x10}, Case{0x1858, true, 0}, Case{0x1860, false, 0},
                        Case{0x1868, false, 0}, Case{0x1870, false, 0}}) {
    X64Context context = Frame(c.rva, kCaller - 16);
    X64Context expected = context;
    expected.known = kX64Nonvolatile | kX64KnownRip;
    if (c.epilog) {
      expected.rip = kBase + 0x8888;
      expected.gpr[kX64Rbx] = 0xB8B8;
      expected.gpr[kX64Rsp] = kCaller + c.extra;
    } else {
      expected.rip = kBase + 0x9999;
      expected.gpr[kX64Rbx] = 0xC0DE;
      expected.gpr[kX64Rsp] = kCaller + 0x20;
    }
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), c.epilog ? X64UnwindResult::Epilog : X64UnwindResult::Unwound)
        << Hex(c.rva);
    ExpectContext(context, expected, Hex(c.rva));
  }
}

// Version 2 records: the epilog codes do not act on the stack.
TEST_F(X64Unwind, VersionTwoEpilogCodesAreSkipped) {
  Function(0x1900, 0x1940, Unwind(Info(5, {Op(4, 6, 1), Op(0x10, 6, 0), Op(5, 2, 3), Op(1, 0, kX64Rbx)}, 0, 0, 0, 2)));
  process.Put64(kCaller - 8, kBase + 0xAAAA);
  process.Put64(kCaller - 16, 0xB8B8);
  X64Context context = Frame(0x1910, kCaller - 0x30);
  ASSERT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound);
  EXPECT_EQ(context.gpr[kX64Rsp], kCaller);
  EXPECT_EQ(context.gpr[kX64Rbx], 0xB8B8u);
  EXPECT_EQ(context.rip, kBase + 0xAAAA);
}

// No entry for RIP: a leaf (RIP = [RSP], RSP + 8); without a module the same, as a guess.
TEST_F(X64Unwind, LeafAndNoModule) {
  Function(0x1A00, 0x1A10, Unwind(Info(0, {})));
  process.Put64(kCaller - 8, kBase + 0xBBBB);
  for (uint32_t rva : {0x1A10u, 0x1FFFu, 0x1000u}) {
    X64Context context = Frame(rva, kCaller - 8);
    X64Context expected = context;
    expected.rip = kBase + 0xBBBB;
    expected.gpr[kX64Rsp] = kCaller;
    expected.known = kX64Nonvolatile | kX64KnownRip;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Leaf) << Hex(rva);
    ExpectContext(context, expected, Hex(rva));
  }
  X64Context context = Frame(0, kCaller - 8);
  context.rip = 0xDEAD0000;
  EXPECT_EQ(UnwindX64Frame(process, 0, context), X64UnwindResult::NoModule);
  EXPECT_EQ(context.rip, kBase + 0xBBBB);
  EXPECT_EQ(context.gpr[kX64Rsp], kCaller);
}

// Damaged records, stacks and images give an error, leave the context as it was and do not fault.
TEST_F(X64Unwind, MalformedDataGivesErrors) {
  const uint32_t alloc = Unwind(Info(0, {Op(0, 2, 3)}));
  Function(0x1B00, 0x1B10, Unwind({0x01, 0, 2, 0, 0x00, 0x01, 0x00, 0x00})); // allocate large, 0 bytes: sound
  Function(0x1B10, 0x1B20, Unwind({0x01, 0, 1, 0, 0x00, 0x01}));             // allocate large in one slot
  Function(0x1B20, 0x1B30, Unwind({0x01, 0, 1, 0, 0x00, 0x0B}));             // operation 11
  Function(0x1B30, 0x1B40, Unwind({0x03, 0, 0, 0}));                         // version 3
  Function(0x1B40, 0x1B50, kImageSize - 6);                                  // codes past the image's end
  process.Put(kBase + kImageSize - 6, std::vector<uint8_t>{0x01, 0, 4, 0, 0x00, 0x02}.data(), 6);
  Function(0x1B50, 0x1B60, Unwind({0x01, 0, 1, 0, 0x00, 0x40}));             // push rsp
  Function(0x1B60, 0x1B70, alloc);
  Function(0x1B70, 0x1B80, 0x10000000);                                      // beyond the image
  const uint64_t rsp = kCaller - 0x100;
  struct Case {
    uint32_t rip;
    uint64_t rsp;
    X64UnwindResult result;
  };
  const Case cases[] = {
      {0x1B14, rsp, X64UnwindResult::BadUnwindInfo},
      {0x1B24, rsp, X64UnwindResult::BadUnwindInfo},
      {0x1B34, rsp, X64UnwindResult::BadUnwindInfo},
      {0x1B44, rsp, X64UnwindResult::BadUnwindInfo},
      {0x1B54, rsp, X64UnwindResult::BadUnwindInfo},
      {0x1B74, rsp, X64UnwindResult::BadUnwindInfo},
      {0x1B64, kStackBase + kStackSize - 0x10, X64UnwindResult::UnreadableMemory}, // return address past the stack
      {0x1B64, 0x10, X64UnwindResult::UnreadableMemory},                            // no stack there
      {0x1B64, ~uint64_t(0) - 0x10, X64UnwindResult::UnreadableMemory},             // RSP + 0x20 overflows
      {0x1A00, 0x10, X64UnwindResult::UnreadableMemory},                            // a leaf without stack
      {0x7FFF, 0x10, X64UnwindResult::UnreadableMemory},                            // idem
      {0x8000, rsp, X64UnwindResult::BadImage},                                     // past SizeOfImage
  };
  for (const Case &c : cases) {
    X64Context context = Frame(c.rip, c.rsp);
    const X64Context before = context;
    EXPECT_EQ(UnwindX64Frame(process, kBase, context), c.result) << Hex(c.rip) << " " << Hex(c.rsp);
    ExpectContext(context, before, Hex(c.rip));
  }
  // The two-slot large allocation above is sound: the record reads, the stack has 0 bytes more.
  X64Context context = Frame(0x1B04, rsp);
  process.Put64(rsp, kBase + 0x1234);
  EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::Unwound);

  // A module read before: RIP past its end, or in no module at all, is refused.
  const std::optional<X64Module> module = ReadX64Module(process, kBase);
  ASSERT_TRUE(module);
  EXPECT_EQ(module->sizeOfImage, kImageSize);
  context = Frame(0x1B64, rsp);
  EXPECT_EQ(UnwindX64Frame(process, *module, context), X64UnwindResult::Unwound);
  for (uint64_t rip : {kBase + kImageSize, kBase - 1, uint64_t(0)}) {
    context = Frame(0, rsp);
    context.rip = rip;
    EXPECT_EQ(UnwindX64Frame(process, *module, context), X64UnwindResult::BadImage) << Hex(rip);
  }
  EXPECT_FALSE(ReadX64Module(process, kStackBase));

  // Images that are none: no headers at the base, a 32-bit machine, a directory past the image.
  context = Frame(0x1B64, rsp);
  EXPECT_EQ(UnwindX64Frame(process, kBase + 0x1000, context), X64UnwindResult::BadImage);
  EXPECT_EQ(UnwindX64Frame(process, kStackBase, context), X64UnwindResult::BadImage);
  const uint16_t i386 = 0x14C;
  process.Put(kBase + 0x44, &i386, 2);
  EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::BadImage);
  const uint16_t amd64 = 0x8664;
  process.Put(kBase + 0x44, &amd64, 2);
  SetDirectory(kPdata, 0xFFFFFFF0u);
  EXPECT_EQ(UnwindX64Frame(process, kBase, context), X64UnwindResult::UnreadableMemory);
  EXPECT_EQ(context.rip, kBase + 0x1B64);
}

// A walk through three frames: the body of the frame-pointer-less function, a function with
// a frame register, a leaf; then RIP lies in no module and the stack ends: nothing loops.
TEST_F(X64Unwind, WalkOfSeveralFrames) {
  Function(0x1C00, 0x1C40, Unwind(Info(5, {Op(5, 2, 3), Op(1, 0, kX64Rbx)})));
  Function(0x1D00, 0x1D40, Unwind(Info(5, {Op(5, 3, 0), Op(1, 0, kX64Rbp)}, kX64Rbp, 0)));
  // Innermost: 0x1C10 with RSP at a; returns into 0x1D10 (its frame: rbp = RSP after push
  // rbp), which returns into 0x1E00 (no entry), which returns to an address outside the stack.
  const uint64_t a = kStackBase + kStackSize - 0x88; // the last value lies at the stack's end
  process.Put64(a + 0x20, 0xB8B8);
  process.Put64(a + 0x28, kBase + 0x1D10);
  const uint64_t b = a + 0x30; // RSP in the second function; its rbp is b + 0x40
  process.Put64(b + 0x40, 0xB0B0);
  process.Put64(b + 0x48, kBase + 0x1E00);
  process.Put64(b + 0x50, 0x1234);
  X64Context context = Frame(0x1C10, a);
  context.gpr[kX64Rbp] = b + 0x40;
  std::vector<uint64_t> rips;
  X64UnwindResult r;
  while (rips.size() < 10 && X64UnwindSucceeded(r = UnwindX64Frame(process, context.rip - kBase < kImageSize ? kBase : 0, context)))
    rips.push_back(context.rip);
  EXPECT_EQ(r, X64UnwindResult::UnreadableMemory);
  EXPECT_EQ(rips, (std::vector<uint64_t>{kBase + 0x1D10, kBase + 0x1E00, 0x1234}));
  EXPECT_EQ(context.gpr[kX64Rbx], 0xB8B8u);
  EXPECT_EQ(context.gpr[kX64Rbp], 0xB0B0u);
}

// Real compiler output: Wine's x86-64 system DLLs (when the machine has them) mapped at their own
// base, above 4 GiB, over a zero-filled stack. Every record of every function (and its chain)
// reads; RIP at each of the first 24 and last 16 bytes of every function, the search finds the
// function and the step succeeds; it fails only for lack of progress, in a function that pushes
// a machine frame (of zeros here: RSP 0).
TEST(X64UnwindRealDlls, EveryFunctionUnwinds) {
  const char *folders[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/",
                           TIDEWELL_WINE_ROOT "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/"};
  size_t images = 0;
  for (const char *folder : folders)
    for (const char *name : {"ntdll.dll", "kernelbase.dll", "user32.dll"}) {
      const std::string path = std::string(folder) + name;
      std::ifstream in(path, std::ios::binary);
      if (!in)
        continue;
      in.seekg(0, std::ios::end);
      std::vector<uint8_t> file(size_t(in.tellg()));
      in.seekg(0);
      in.read(reinterpret_cast<char *>(file.data()), std::streamsize(file.size()));
      std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(file.data(), file.size());
      ASSERT_TRUE(pe && pe->Pe32Plus) << path;
      ++images;
      Process process;
      std::vector<uint8_t> &mapped = process.Map(pe->ImageBase, 0);
      mapped = pe->MapImage(file.data(), file.size());
      process.Map(kStackBase, kStackSize);
      const debuginfo::PeSpan image(mapped);
      const auto [dirRva, dirSize] = pe->Directory(debuginfo::kDirectoryException);
      const std::optional<X64Module> module = ReadX64Module(process, pe->ImageBase);
      ASSERT_TRUE(module) << path;
      EXPECT_EQ(module->sizeOfImage, pe->SizeOfImage);
      EXPECT_EQ(module->exceptionRva, dirRva);
      size_t steps = 0, epilogs = 0, machineFrames = 0;
      for (const PeRuntimeFunction &f : debuginfo::ReadRuntimeFunctions(image, dirRva, dirSize)) {
        // Prologs lie at the start, epilogs mostly at the end.
        std::vector<uint32_t> offsets;
        const uint32_t size = f.End - f.Begin;
        for (uint32_t o = 0; o < size && o < 24; ++o)
          offsets.push_back(o);
        for (uint32_t o = std::max(size, 40u) - 16; o < size; ++o)
          offsets.push_back(o);
        bool hasMachineFrame = false;
        PeRuntimeFunction link = f;
        for (size_t n = 0; n < kX64MaxChain; ++n) {
          std::optional<debuginfo::PeUnwindInfo> info = debuginfo::ReadUnwindInfo(image, link.UnwindInfo);
          ASSERT_TRUE(info) << path << " rva " << Hex(f.Begin);
          for (const debuginfo::PeUnwindCode &c : info->Codes)
            hasMachineFrame |= c.Op == debuginfo::PeUnwindOp::PushMachframe;
          if (!info->Chained)
            break;
          link = *info->Chained;
        }
        for (uint32_t o : offsets) {
          X64Context context;
          for (size_t i = 0; i < 16; ++i)
            context.gpr[i] = kStackBase + kStackSize / 2;
          context.gpr[kX64Rsp] = kStackBase + 0x1000;
          context.rip = pe->ImageBase + f.Begin + o;
          const X64UnwindResult r = UnwindX64Frame(process, *module, context);
          ++steps;
          epilogs += r == X64UnwindResult::Epilog;
          if (r == X64UnwindResult::NoProgress && hasMachineFrame) {
            ++machineFrames;
            continue;
          }
          ASSERT_TRUE(r == X64UnwindResult::Unwound || r == X64UnwindResult::Epilog)
              << path << " rva " << Hex(f.Begin + o) << ": " << X64UnwindResultName(r);
          EXPECT_EQ(context.rip, 0u);
        }
      }
      std::printf("%s at %s: %zu steps, %zu in epilogs, %zu at machine frames\n", name, Hex(pe->ImageBase).c_str(), steps,
                  epilogs, machineFrames);
      EXPECT_GT(epilogs, 0u);
    }
  if (images == 0)
    GTEST_SKIP() << "no x86-64 Wine DLLs on this machine";
}

} // namespace
} // namespace tidewell::stacktrace
