#include "crash/analysis/stacktrace/X64Unwinder.h"

#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

namespace tidewell::stacktrace {

namespace {

using debuginfo::PeLookup;
using debuginfo::PeRuntimeFunction;
using debuginfo::PeSource;
using debuginfo::PeUnwindCode;
using debuginfo::PeUnwindInfo;
using debuginfo::PeUnwindOp;

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr size_t kMaxEpilogPops = 16;

// The image as its loader mapped it: offset = RVA, read at imageBase + RVA.
class ImageMemory : public PeSource {
public:
  ImageMemory(const PeSource &memory, uint64_t base) : FMemory(memory), FBase(base) {}
  bool Read(uint64_t offset, void *out, size_t size) const override {
    return offset <= UINT64_MAX - FBase && FMemory.Read(FBase + offset, out, size);
  }

private:
  const PeSource &FMemory;
  uint64_t FBase;
};

bool ReadU64(const PeSource &memory, uint64_t at, uint64_t &value) {
  uint8_t b[8];
  if (!memory.Read(at, b, sizeof b))
    return false;
  value = 0;
  for (int i = 7; i >= 0; --i)
    value = value << 8 | b[i];
  return true;
}

// a + b, false when it passes 2^64.
bool Add(uint64_t a, uint64_t b, uint64_t &sum) {
  if (a > UINT64_MAX - b)
    return false;
  sum = a + b;
  return true;
}

// a + d for a signed d, false when it leaves [0, 2^64).
bool AddSigned(uint64_t a, int64_t d, uint64_t &sum) {
  if (d >= 0)
    return Add(a, uint64_t(d), sum);
  const uint64_t down = uint64_t(0) - uint64_t(d);
  if (a < down)
    return false;
  sum = a - down;
  return true;
}

// One unwind record of the chain and the entry that led to it.
struct Link {
  PeRuntimeFunction function;
  PeUnwindInfo info;
};

enum class Status { Ok, NotEpilog, Unreadable, Malformed };

// The state of the caller's registers while a step computes them.
struct Work {
  X64Context context;
  uint32_t restored = 0;

  uint64_t &Rsp() { return context.gpr[kX64Rsp]; }
  // Reads the 8 bytes at RSP into target and moves RSP past them.
  bool Pop(const PeSource &memory, uint64_t &target) {
    uint64_t value = 0, next = 0;
    if (!ReadU64(memory, Rsp(), value) || !Add(Rsp(), 8, next))
      return false;
    Rsp() = next;
    target = value;
    return true;
  }
  bool PopRegister(const PeSource &memory, uint8_t reg) {
    if (!Pop(memory, context.gpr[reg]))
      return false;
    restored |= 1u << reg;
    return true;
  }
};

// Whether the code at RVA rva belongs to the function (any range of its chain).
bool InFunction(const std::vector<Link> &chain, uint64_t rva) {
  for (const Link &l : chain)
    if (rva >= l.function.Begin && rva < l.function.End)
      return true;
  return false;
}

// The epilog rule: the code at RIP is [add rsp, imm | lea rsp, [frame + disp]] pop* (ret |
// ret imm16 | jmp out of the function). When it is, the instructions are simulated.
Status SimulateEpilog(const PeSource &memory, uint64_t imageBase, const std::vector<Link> &chain,
                      uint8_t frameRegister, Work &work) {
  uint64_t at = work.context.rip;
  uint8_t b[8];
  auto read = [&](uint64_t where, size_t n) { return memory.Read(where, b, n); };
  if (!read(at, 1))
    return Status::NotEpilog;

  // The stack adjustment. An RSP out of range counts only once the rest is known to be an epilog.
  uint64_t rsp = work.Rsp();
  bool outOfRange = false;
  if ((b[0] == 0x48 || b[0] == 0x49) && read(at, 3)) {
    const uint8_t rex = b[0], op = b[1], modrm = b[2];
    if (rex == 0x48 && op == 0x83 && modrm == 0xC4 && read(at, 4)) {
      const int8_t imm = int8_t(b[3]);
      if (imm < 0)
        return Status::NotEpilog;
      outOfRange = !Add(rsp, uint64_t(imm), rsp);
      at += 4;
    } else if (rex == 0x48 && op == 0x81 && modrm == 0xC4 && read(at, 7)) {
      int32_t imm;
      std::memcpy(&imm, b + 3, 4);
      if (imm < 0)
        return Status::NotEpilog;
      outOfRange = !Add(rsp, uint64_t(imm), rsp);
      at += 7;
    } else if (op == 0x8D && (modrm & 0x38) == 0x20 && (modrm >> 6) != 3) {
      // lea rsp, [base + disp]: the base must be the frame register.
      const uint8_t mod = modrm >> 6, rm = modrm & 7;
      const uint8_t base = uint8_t(rm | (rex & 1) << 3);
      size_t length = 3;
      if (rm == 4) { // a SIB byte: only [rsp/r12 + disp] without index
        if (!read(at, 4) || b[3] != 0x24)
          return Status::NotEpilog;
        length = 4;
      }
      if (mod == 0 && rm == 5)
        return Status::NotEpilog; // RIP-relative
      const size_t dispSize = mod == 1 ? 1 : mod == 2 ? 4 : 0;
      if (frameRegister == 0 || base != frameRegister || !read(at, length + dispSize))
        return Status::NotEpilog;
      int64_t disp = 0;
      if (dispSize == 1)
        disp = int8_t(b[length]);
      else if (dispSize == 4) {
        int32_t d;
        std::memcpy(&d, b + length, 4);
        disp = d;
      }
      outOfRange = !AddSigned(work.context.gpr[base], disp, rsp);
      at += length + dispSize;
    }
  }

  // The pops.
  uint8_t pops[kMaxEpilogPops];
  size_t popCount = 0;
  while (popCount < kMaxEpilogPops && read(at, 1)) {
    if (b[0] >= 0x58 && b[0] <= 0x5F && b[0] != 0x5C) {
      pops[popCount++] = uint8_t(b[0] - 0x58);
      at += 1;
    } else if (b[0] == 0x41 && read(at, 2) && b[1] >= 0x58 && b[1] <= 0x5F) {
      pops[popCount++] = uint8_t(8 + b[1] - 0x58);
      at += 2;
    } else {
      break;
    }
  }

  // The return or the tail call.
  if (!read(at, 1))
    return Status::NotEpilog;
  uint64_t extra = 0; // bytes ret imm16 releases
  const auto outside = [&](uint64_t next, int64_t rel) {
    uint64_t target = next + uint64_t(rel); // wraps as the processor would
    return target < imageBase || !InFunction(chain, target - imageBase);
  };
  if (b[0] == 0xC3 || (b[0] == 0xF3 && read(at, 2) && b[1] == 0xC3)) {
  } else if (b[0] == 0xC2 && read(at, 3)) {
    extra = uint64_t(b[1]) | uint64_t(b[2]) << 8;
  } else if (b[0] == 0xE9 && read(at, 5)) {
    int32_t rel;
    std::memcpy(&rel, b + 1, 4);
    if (!outside(at + 5, rel))
      return Status::NotEpilog;
  } else if (b[0] == 0xEB && read(at, 2)) {
    if (!outside(at + 2, int8_t(b[1])))
      return Status::NotEpilog;
  } else if (b[0] == 0xFF && read(at, 2) && b[1] == 0x25) {
  } else if (b[0] == 0x48 && read(at, 3) && b[1] == 0xFF && b[2] == 0x25) {
  } else {
    return Status::NotEpilog;
  }

  if (outOfRange)
    return Status::Unreadable;
  Work result = work;
  result.Rsp() = rsp;
  for (size_t i = 0; i < popCount; ++i)
    if (!result.PopRegister(memory, pops[i]))
      return Status::Unreadable;
  uint64_t rspAfter = 0;
  if (!result.Pop(memory, result.context.rip) || !Add(result.Rsp(), extra, rspAfter))
    return Status::Unreadable;
  result.Rsp() = rspAfter;
  work = result;
  return Status::Ok;
}

// The unwind codes of the chain; those of the first record only as far as the prolog has run
// (offset: RIP's offset from the start of its function, inProlog: RIP inside the prolog).
Status ApplyCodes(const PeSource &memory, const std::vector<Link> &chain, uint32_t offset, bool inProlog, Work &work,
                  bool &machineFrame) {
  const auto applies = [&](size_t link, const PeUnwindCode &code) {
    return code.Op != PeUnwindOp::Epilog && (link > 0 || !inProlog || code.CodeOffset <= offset);
  };
  // The frame register as the frame has it: a code restores it only after SetFpreg has used it.
  const std::array<uint64_t, 16> frame = work.context.gpr;
  // The frame base the Save codes count from: RSP after the prolog's fixed allocation, which is
  // the frame register minus its offset once the prolog has set it, else RSP now.
  uint64_t frameBase = work.Rsp();
  bool found = false;
  for (size_t k = 0; k < chain.size() && !found; ++k)
    for (const PeUnwindCode &code : chain[k].info.Codes)
      if (code.Op == PeUnwindOp::SetFpreg && applies(k, code)) {
        const PeUnwindInfo &info = chain[k].info;
        if (!AddSigned(frame[info.FrameRegister], -16 * int64_t(info.FrameOffset), frameBase))
          return Status::Unreadable;
        found = true;
        break;
      }

  for (size_t k = 0; k < chain.size(); ++k) {
    const PeUnwindInfo &info = chain[k].info;
    for (const PeUnwindCode &code : info.Codes) {
      if (!applies(k, code))
        continue;
      switch (code.Op) {
      case PeUnwindOp::PushNonvol:
        if (code.Info == kX64Rsp)
          return Status::Malformed;
        if (!work.PopRegister(memory, code.Info))
          return Status::Unreadable;
        break;
      case PeUnwindOp::AllocLarge:
      case PeUnwindOp::AllocSmall:
        if (!Add(work.Rsp(), code.Value, work.Rsp()))
          return Status::Unreadable;
        break;
      case PeUnwindOp::SetFpreg:
        if (!AddSigned(frame[info.FrameRegister], -16 * int64_t(info.FrameOffset), work.Rsp()))
          return Status::Unreadable;
        break;
      case PeUnwindOp::SaveNonvol:
      case PeUnwindOp::SaveNonvolFar: {
        uint64_t at = 0, value = 0;
        if (code.Info == kX64Rsp)
          return Status::Malformed;
        if (!Add(frameBase, code.Value, at) || !ReadU64(memory, at, value))
          return Status::Unreadable;
        work.context.gpr[code.Info] = value;
        work.restored |= 1u << code.Info;
        break;
      }
      case PeUnwindOp::PushMachframe: {
        // RIP, CS, EFLAGS, RSP, SS as the processor pushed them, behind the error code if any.
        uint64_t frame = 0, rip = 0, rsp = 0, rspAt = 0;
        if (!Add(work.Rsp(), code.Info ? 8 : 0, frame) || !Add(frame, 24, rspAt) || !ReadU64(memory, frame, rip) ||
            !ReadU64(memory, rspAt, rsp))
          return Status::Unreadable;
        work.context.rip = rip;
        work.Rsp() = rsp;
        machineFrame = true;
        return Status::Ok; // the frame is the first thing the prolog pushed
      }
      default: // SaveXmm128, SaveXmm128Far: the xmm registers are not followed
        break;
      }
    }
  }
  return work.Pop(memory, work.context.rip) ? Status::Ok : Status::Unreadable;
}

X64UnwindResult Failure(Status status) {
  return status == Status::Malformed ? X64UnwindResult::BadUnwindInfo : X64UnwindResult::UnreadableMemory;
}

// Commits a step that moved RSP up; refuses one that did not.
X64UnwindResult Finish(Work &work, X64UnwindResult result, X64Context &context) {
  if (work.Rsp() <= context.gpr[kX64Rsp])
    return X64UnwindResult::NoProgress;
  work.context.known = (context.known & kX64Nonvolatile) | work.restored | (1u << kX64Rsp) | kX64KnownRip;
  context = work.context;
  return result;
}

} // namespace

bool X64UnwindSucceeded(X64UnwindResult result) {
  switch (result) {
  case X64UnwindResult::Unwound:
  case X64UnwindResult::Epilog:
  case X64UnwindResult::MachineFrame:
  case X64UnwindResult::Leaf:
  case X64UnwindResult::NoModule:
    return true;
  default:
    return false;
  }
}

const char *X64UnwindResultName(X64UnwindResult result) {
  switch (result) {
  case X64UnwindResult::Unwound: return "unwound";
  case X64UnwindResult::Epilog: return "epilog";
  case X64UnwindResult::MachineFrame: return "machine frame";
  case X64UnwindResult::Leaf: return "leaf";
  case X64UnwindResult::NoModule: return "no module";
  case X64UnwindResult::BadImage: return "bad image";
  case X64UnwindResult::BadUnwindInfo: return "bad unwind information";
  case X64UnwindResult::UnreadableMemory: return "unreadable memory";
  case X64UnwindResult::NoProgress: return "no progress";
  }
  return "?";
}

std::optional<X64Module> ReadX64Module(const PeSource &memory, uint64_t imageBase) {
  const std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(ImageMemory(memory, imageBase));
  if (!pe || !pe->Pe32Plus || pe->Machine != kMachineAmd64)
    return std::nullopt;
  X64Module module;
  module.imageBase = imageBase;
  module.sizeOfImage = pe->SizeOfImage;
  std::tie(module.exceptionRva, module.exceptionSize) = pe->Directory(debuginfo::kDirectoryException);
  return module;
}

X64UnwindResult UnwindX64Frame(const PeSource &memory, uint64_t imageBase, X64Context &context) {
  if (imageBase == 0) {
    Work work;
    work.context = context;
    if (!work.Pop(memory, work.context.rip))
      return X64UnwindResult::UnreadableMemory;
    return Finish(work, X64UnwindResult::NoModule, context);
  }
  const std::optional<X64Module> module = ReadX64Module(memory, imageBase);
  return module ? UnwindX64Frame(memory, *module, context) : X64UnwindResult::BadImage;
}

X64UnwindResult UnwindX64Frame(const PeSource &memory, const X64Module &module, X64Context &context) {
  const uint64_t imageBase = module.imageBase;
  if (imageBase == 0 || context.rip < imageBase || context.rip - imageBase >= module.sizeOfImage)
    return X64UnwindResult::BadImage;
  Work work;
  work.context = context;
  const ImageMemory image(memory, imageBase);
  const uint32_t rva = uint32_t(context.rip - imageBase);
  const debuginfo::PeRuntimeFunctionLookup lookup =
      debuginfo::FindRuntimeFunction(image, module.exceptionRva, module.exceptionSize, rva);
  if (lookup.Status == PeLookup::Unreadable)
    return X64UnwindResult::UnreadableMemory;
  if (lookup.Status == PeLookup::NotFound) {
    if (!work.Pop(memory, work.context.rip))
      return X64UnwindResult::UnreadableMemory;
    return Finish(work, X64UnwindResult::Leaf, context);
  }

  std::vector<Link> chain;
  PeRuntimeFunction function = lookup.Function;
  for (;;) {
    if (chain.size() == kX64MaxChain)
      return X64UnwindResult::BadUnwindInfo; // too long, or a loop
    std::optional<PeUnwindInfo> info = debuginfo::ReadUnwindInfo(image, function.UnwindInfo);
    if (!info)
      return X64UnwindResult::BadUnwindInfo;
    chain.push_back({function, std::move(*info)});
    if (!chain.back().info.Chained)
      break;
    function = *chain.back().info.Chained;
  }
  const uint32_t offset = rva - chain[0].function.Begin;
  const bool inProlog = offset < chain[0].info.SizeOfProlog;
  uint8_t frameRegister = 0;
  for (const Link &l : chain)
    if (!frameRegister)
      frameRegister = l.info.FrameRegister;

  Status status = inProlog ? Status::NotEpilog : SimulateEpilog(memory, imageBase, chain, frameRegister, work);
  if (status == Status::Ok)
    return Finish(work, X64UnwindResult::Epilog, context);
  if (status != Status::NotEpilog)
    return Failure(status);
  bool machineFrame = false;
  status = ApplyCodes(memory, chain, offset, inProlog, work, machineFrame);
  if (status != Status::Ok)
    return Failure(status);
  return Finish(work, machineFrame ? X64UnwindResult::MachineFrame : X64UnwindResult::Unwound, context);
}

} // namespace tidewell::stacktrace
