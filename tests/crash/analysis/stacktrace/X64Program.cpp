#include "tests/crash/analysis/stacktrace/X64Program.h"

#include <cstring>
#include <string>


namespace tidewell::stacktrace::test {

namespace {

constexpr uint32_t kCodeRva = 0x1000, kCodeSize = 0x1000, kDataRva = 0x2000, kImageSize = 0x4000;
constexpr uint32_t kXdata = kDataRva, kPdata = kDataRva + 0x200, kExports = kDataRva + 0x400,
                   kCell = kDataRva + 0x800;

void Put16(std::vector<uint8_t> &b, uint32_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t> &b, uint32_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + uint32_t(i)] = uint8_t(v >> (8 * i));
}
void Put64(std::vector<uint8_t> &b, uint32_t at, uint64_t v) {
  Put32(b, at, uint32_t(v));
  Put32(b, at + 4, uint32_t(v >> 32));
}

// One unwind code slot: offset in the prolog, operation, operation information.
uint16_t Op(uint8_t offset, uint8_t op, uint8_t info) { return uint16_t(offset | (op | info << 4) << 8); }
constexpr uint8_t kPushNonvol = 0, kAllocSmall = 2, kSetFpreg = 3;
constexpr uint8_t kRbx = 3, kRbp = 5;

// Emits code into the image's bytes at an RVA.
struct Emitter {
  std::vector<uint8_t> &image;
  uint64_t base;
  uint32_t rva;
  uint64_t Here() const { return base + rva; }
  void Bytes(std::initializer_list<uint8_t> bytes) {
    for (uint8_t x : bytes)
      image[rva++] = x;
  }
  // call rel32; returns the return address, `site` the call's address.
  uint64_t Call(uint64_t target, uint64_t &site) {
    site = Here();
    Bytes({0xE8});
    Put32(image, rva, uint32_t(target - (Here() + 4)));
    rva += 4;
    return Here();
  }
  // call [rip + disp32] to the cell.
  uint64_t CallCell(uint64_t cellAddress, uint64_t &site) {
    site = Here();
    Bytes({0xFF, 0x15});
    Put32(image, rva, uint32_t(cellAddress - (Here() + 4)));
    rva += 4;
    return Here();
  }
};

} // namespace

X64Program::X64Program(uint64_t imageBase, bool withDebugInfo, const std::string &leafName) : base(imageBase) {
  process.wide = true;
  std::vector<uint8_t> image(kImageSize, 0);
  // Headers: DOS stub pointer, PE signature, file header, PE32+ optional header, two sections.
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, 0x80);
  Put32(image, 0x80, 0x00004550);
  const uint32_t fh = 0x84, oh = fh + 20;
  Put16(image, fh, 0x8664);
  Put16(image, fh + 2, 2);
  Put16(image, fh + 16, 240);
  Put16(image, fh + 18, 0x2022);
  Put16(image, oh, 0x20B);
  Put32(image, oh + 4, kCodeSize);          // SizeOfCode
  Put32(image, oh + 8, 0x2000);             // SizeOfInitializedData
  Put32(image, oh + 16, kCodeRva);          // AddressOfEntryPoint
  Put32(image, oh + 20, kCodeRva);          // BaseOfCode
  Put64(image, oh + 24, imageBase);         // ImageBase
  Put32(image, oh + 32, 0x1000);            // SectionAlignment
  Put32(image, oh + 36, 0x200);             // FileAlignment
  Put32(image, oh + 56, kImageSize);        // SizeOfImage
  Put32(image, oh + 60, 0x400);             // SizeOfHeaders
  Put32(image, oh + 108, 16);               // NumberOfRvaAndSizes
  uint32_t sh = oh + 240;
  std::memcpy(&image[sh], ".text", 5);
  Put32(image, sh + 8, kCodeSize);
  Put32(image, sh + 12, kCodeRva);
  Put32(image, sh + 36, 0x60000020);
  sh += 40;
  std::memcpy(&image[sh], ".rdata", 6);
  Put32(image, sh + 8, kImageSize - kDataRva);
  Put32(image, sh + 12, kDataRva);
  Put32(image, sh + 36, 0x40000040);

  // The code. A nop follows each call, so that no return address lies in an epilog.
  start = imageBase + 0x1000;
  mainFn = imageBase + 0x1100;
  a = imageBase + 0x1200;
  b = imageBase + 0x1300;
  junk = imageBase + 0x1380;
  cell = imageBase + kCell;
  Emitter e{image, imageBase, 0x1000};
  e.Bytes({0x48, 0x83, 0xEC, 0x28});          // sub rsp, 0x28
  retStart = e.Call(mainFn, siteStart);
  e.Bytes({0x90, 0x48, 0x83, 0xC4, 0x28, 0xC3}); // nop; add rsp, 0x28; ret
  const uint32_t startEnd = e.rva;
  e.rva = 0x1100;
  e.Bytes({0x53, 0x48, 0x83, 0xEC, 0x20});    // push rbx; sub rsp, 0x20
  retMainJunk = e.Call(junk, siteMainJunk);
  retMain = e.Call(a, siteMain);
  e.Bytes({0x90, 0x48, 0x83, 0xC4, 0x20, 0x5B, 0xC3});
  const uint32_t mainEnd = e.rva;
  e.rva = 0x1200;
  e.Bytes({0x55, 0x48, 0x83, 0xEC, 0x30, 0x48, 0x8D, 0x6C, 0x24, 0x20}); // push rbp; sub rsp, 0x30; lea rbp, [rsp+0x20]
  retA = e.CallCell(cell, siteA);
  e.Bytes({0x90, 0x48, 0x8D, 0x65, 0x10, 0x5D, 0xC3}); // nop; lea rsp, [rbp+0x10]; pop rbp; ret
  const uint32_t aEnd = e.rva;
  e.rva = 0x1300;
  fault = e.Here();
  e.Bytes({0x48, 0x8B, 0x00, 0xC3}); // mov rax, [rax]; ret
  e.rva = 0x1380;
  e.Bytes({0xC3});
  Put64(image, kCell, b);

  // Unwind records and the exception directory (sorted by start).
  uint32_t info = kXdata;
  auto record = [&](uint8_t prolog, std::vector<uint16_t> slots, uint8_t frame = 0, uint8_t offset = 0) {
    const uint32_t at = info;
    image[info++] = 1;
    image[info++] = prolog;
    image[info++] = uint8_t(slots.size());
    image[info++] = uint8_t(frame | offset << 4);
    if (slots.size() % 2)
      slots.push_back(0);
    for (uint16_t s : slots) {
      Put16(image, info, s);
      info += 2;
    }
    return at;
  };
  const uint32_t startInfo = record(4, {Op(4, kAllocSmall, (0x28 - 8) / 8)});
  const uint32_t mainInfo = record(5, {Op(5, kAllocSmall, (0x20 - 8) / 8), Op(1, kPushNonvol, kRbx)});
  const uint32_t aInfo =
      record(10, {Op(10, kSetFpreg, 0), Op(5, kAllocSmall, (0x30 - 8) / 8), Op(1, kPushNonvol, kRbp)}, kRbp, 2);
  mainUnwindInfo = imageBase + mainInfo;
  const uint32_t entries[][3] = {{0x1000, startEnd, startInfo}, {0x1100, mainEnd, mainInfo}, {0x1200, aEnd, aInfo}};
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t k = 0; k < 3; ++k)
      Put32(image, kPdata + 12 * i + 4 * k, entries[i][k]);
  Put32(image, oh + 112 + 3 * 8, kPdata);
  Put32(image, oh + 112 + 3 * 8 + 4, 36);

  // Exports of the four functions, by name.
  const std::pair<uint32_t, std::string> exports[] = {
      {0x1000, "Start"}, {0x1100, "Main"}, {0x1200, "A"}, {0x1300, "B"}};
  const uint32_t n = 4, functions = kExports + 40, names = functions + 4 * n, ordinals = names + 4 * n;
  uint32_t strings = ordinals + 2 * n;
  Put32(image, kExports + 0x14, n);
  Put32(image, kExports + 0x18, n);
  Put32(image, kExports + 0x1C, functions);
  Put32(image, kExports + 0x20, names);
  Put32(image, kExports + 0x24, ordinals);
  for (uint32_t i = 0; i < n; ++i) {
    Put32(image, functions + 4 * i, exports[i].first);
    Put32(image, names + 4 * i, strings);
    Put16(image, ordinals + 2 * i, uint16_t(i));
    std::memcpy(&image[strings], exports[i].second.c_str(), exports[i].second.size() + 1);
    strings += uint32_t(exports[i].second.size() + 1);
  }
  Put32(image, oh + 112, kExports);
  Put32(image, oh + 112 + 4, strings - kExports);
  process.AddRegion(imageBase, std::move(image), true, "prog64.dll");

  if (withDebugInfo) {
    TMapFile &model = process.DebugInfo(imageBase);
    AddFunction(model, "Boot", "Start", uint32_t(start), uint32_t(imageBase + startEnd), {{uint32_t(siteStart), 10}});
    AddFunction(model, "Prog", "Main", uint32_t(mainFn), uint32_t(imageBase + mainEnd), {{uint32_t(siteMain), 20}});
    AddFunction(model, "Prog", "A", uint32_t(a), uint32_t(imageBase + aEnd), {{uint32_t(siteA), 30}});
    AddFunction(model, "Prog", leafName, uint32_t(b), uint32_t(b + 4), {{uint32_t(fault), 40}});
    Seal(model);
  }

  // The stack, from its top: Start's return address 0 (the thread's start), Start's 0x28
  // bytes, the return into Start, saved rbx, Main's 0x20 bytes, the return into Main, saved
  // rbp, A's 0x30 bytes (holding a stale return address into Main), the return into A.
  process.AddPlain(kStackBase, uint32_t(kStackTop - kStackBase));
  process.Put64(kStackTop - 0x08, 0);
  process.Put64(kStackTop - 0x38, retStart);
  process.Put64(kStackTop - 0x40, 0x1234); // saved rbx
  process.Put64(kStackTop - 0x68, retMain);
  process.Put64(kStackTop - 0x70, kStackTop - 0x10); // saved rbp of Main's caller
  process.Put64(kStackTop - 0x90, retMainJunk);
  process.Put64(kStackTop - 0xA8, retA);
}

X64Context X64Program::FaultContext() const {
  X64Context c;
  c.rip = fault;
  c.gpr[kX64Rsp] = kStackTop - 0xA8;
  c.gpr[kX64Rbp] = kStackTop - 0x80;
  c.gpr[kX64Rbx] = 0x5678;
  return c;
}

X64Context X64Program::NullCallContext() const {
  X64Context c = FaultContext();
  c.rip = 0;
  return c;
}

TraceRequest X64Program::Request() const {
  TraceRequest q;
  q.mode = disasm::CpuMode::X64;
  q.currentAddr = fault;
  q.isException = true;
  q.extException = true;
  q.stackBottom = kStackTop - 0xA8;
  q.stackTop = kStackTop;
  q.x64Context = FaultContext();
  return q;
}

} // namespace tidewell::stacktrace::test
