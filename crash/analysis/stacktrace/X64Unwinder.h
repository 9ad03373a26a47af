#pragma once
// One step of the x86-64 stack unwind of Windows code: from the registers of a frame, those of its
// caller, by the unwind information of the module holding RIP (its exception directory and the
// unwind codes it points to), the simulation of an epilog RIP stands in, or the leaf rule. All
// memory (the stack, the code at RIP and the module's headers and tables, at imageBase + RVA) is
// read through one PeSource whose offsets are absolute addresses of the traced process. Every
// read is checked, every sum of untrusted values is checked for overflow, the work of a step is
// bounded (at most kX64MaxChain unwind records of at most 255 slots each, an epilog of at most 16
// pops), and a step that succeeds always moves RSP up.
#include "crash/base/pe/PeImage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tidewell::stacktrace {

// The general registers, by their number in the encoding (the unwind codes use the same numbers).
enum X64Register : uint8_t {
  kX64Rax, kX64Rcx, kX64Rdx, kX64Rbx, kX64Rsp, kX64Rbp, kX64Rsi, kX64Rdi,
  kX64R8, kX64R9, kX64R10, kX64R11, kX64R12, kX64R13, kX64R14, kX64R15,
};

// Bits of X64Context::known: bit n for gpr[n], and RIP.
inline constexpr uint32_t kX64KnownRip = 1u << 16;
inline constexpr uint32_t kX64KnownAll = 0x1FFFFu;
// The registers a callee keeps for its caller (rbx, rsp, rbp, rsi, rdi, r12 to r15).
inline constexpr uint32_t kX64Nonvolatile = (1u << kX64Rbx) | (1u << kX64Rsp) | (1u << kX64Rbp) | (1u << kX64Rsi) |
                                            (1u << kX64Rdi) | (1u << kX64R12) | (1u << kX64R13) | (1u << kX64R14) |
                                            (1u << kX64R15);
// The longest chain of unwind records followed in one step; a longer one (or a loop) is malformed.
inline constexpr size_t kX64MaxChain = 32;

struct X64Context {
  std::array<uint64_t, 16> gpr{};
  uint64_t rip = 0;
  // Which values are the frame's own. After a step: RIP, RSP and the registers read back from
  // the stack, plus the nonvolatile registers that were known before (a callee that did not save
  // one left it as its caller had it); the volatile registers of a caller cannot be recovered.
  uint32_t known = kX64KnownAll;
};

enum class X64UnwindResult {
  Unwound,      // by the unwind codes of RIP's function (only those its prolog has run, when inside it)
  Epilog,       // RIP lay in an epilog: its remaining instructions were simulated
  MachineFrame, // RIP and RSP came from a machine frame (an interrupt's or exception's)
  Leaf,         // the module has no entry for RIP: a leaf function, RIP = [RSP], RSP += 8
  NoModule,     // imageBase was 0: the leaf rule applied as a guess (see UnwindX64Frame)
  // Failures: the context is left as it was.
  BadImage,         // no PE32+ x86-64 headers at imageBase, or RIP outside the image they describe
  BadUnwindInfo,    // the unwind information is unreadable or malformed, or its chain too long
  UnreadableMemory, // a stack slot or an exception directory entry could not be read, or a stack
                    // address computed from the information lies outside the address space
  NoProgress,       // the caller's RSP would not be above the frame's
};

// True for the results that unwound a frame.
bool X64UnwindSucceeded(X64UnwindResult result);
// The result's name, for reports and test messages.
const char *X64UnwindResultName(X64UnwindResult result);

// What a step needs of the module holding RIP, read once from its headers.
struct X64Module {
  uint64_t imageBase = 0;
  uint32_t sizeOfImage = 0;
  uint32_t exceptionRva = 0, exceptionSize = 0; // the exception directory
};

// The module whose PE32+ x86-64 headers lie at imageBase in memory (read by PeImage::Parse);
// nullopt when there are none.
std::optional<X64Module> ReadX64Module(const debuginfo::PeSource &memory, uint64_t imageBase);

// Replaces context (a frame's registers) with its caller's. imageBase is the base of the module
// that holds context.rip; the step reads the module's headers there to find its exception
// directory. When it is 0 (RIP in no known module: a bad jump, generated code), nothing can
// tell where the function keeps its frame, and the step applies the leaf rule as the likeliest
// guess (right after a call through a bad pointer) and says so with NoModule. On a failure the
// context is not changed.
X64UnwindResult UnwindX64Frame(const debuginfo::PeSource &memory, uint64_t imageBase, X64Context &context);
// The same for a module read before (a tracer reads each module's headers once): BadImage when
// RIP lies outside it.
X64UnwindResult UnwindX64Frame(const debuginfo::PeSource &memory, const X64Module &module, X64Context &context);

} // namespace tidewell::stacktrace
