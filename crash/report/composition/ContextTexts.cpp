#include "crash/report/composition/ContextTexts.h"

#include "crash/report/composition/ReportText.h"

namespace kx {

std::string CpuRegistersText(const KXRegisterContext &c) {
  const std::pair<const char *, uint32_t> regs[] = {{"eax", c.eax}, {"ebx", c.ebx}, {"ecx", c.ecx},
                                                    {"edx", c.edx}, {"esi", c.esi}, {"edi", c.edi},
                                                    {"eip", c.eip}, {"esp", c.esp}, {"ebp", c.ebp}};
  std::string text;
  for (const auto &[name, value] : regs) {
    if (!text.empty())
      text += "\r\n";
    text += name;
    text += " = ";
    text += Hex8(value);
  }
  return text;
}

std::string StackDumpText(uint64_t start, uint64_t end, const KXReadMemoryFn &read) {
  static const char digits[] = "0123456789abcdef";
  if (end == 0 || end < start)
    end = UINT64_MAX;
  std::string text;
  uint64_t address = start;
  for (int line = 0; line < 20 && address < end; ++line) {
    uint8_t bytes[16];
    int count = 0;
    while (count < 16 && address + uint64_t(count) < end && read(address + uint64_t(count), &bytes[count], 1))
      ++count;
    if (count == 0)
      break;
    if (!text.empty())
      text += "\r\n";
    text += Hex8(address);
    text += "  ";
    for (int i = 0; i < 16; ++i) {
      if (i == 8)
        text += count > 8 ? "- " : "  ";
      if (i < count) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
        text += ' ';
      } else {
        text += "   ";
      }
    }
    text += ' ';
    for (int i = 0; i < count; ++i)
      text += (bytes[i] >= 33 && bytes[i] <= 126) ? char(bytes[i]) : '.';
    if (count < 16)
      break;
    address += 16;
    if (address < start) // wrapped around the top of the address space
      break;
  }
  return text;
}

} // namespace kx
