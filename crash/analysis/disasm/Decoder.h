// 32-bit x86 instruction decoder.
//
// Target addresses are plain uint32_t values of the analysed (32-bit) process. Every byte of
// target memory is fetched through MemoryReader, which reports failure instead of faulting, so
// the decoder can be pointed at arbitrary, possibly unmapped addresses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tidewell::disasm {

// Guarded read of the analysed process's memory: copies `count` bytes starting at `address`
// into `buffer`, or returns false (leaving the buffer in an unspecified state) when any of the
// bytes cannot be read. Implementations must never fault.
class MemoryReader {
public:
    virtual ~MemoryReader() = default;
    virtual bool Read(uint32_t address, void* buffer, uint32_t count) const = 0;
    // True when readability is the same over every aligned 4 KiB page, as with the memory of a
    // process: a page that cannot be read whole holds nothing readable.
    virtual bool PageGranular() const { return false; }
};

// A MemoryReader over a byte buffer that stands for target memory at `base`.
// The buffer is not copied; it must outlive the reader.
class BufferMemory final : public MemoryReader {
public:
    BufferMemory(uint32_t base, const uint8_t* data, uint32_t size) : base_(base), data_(data), size_(size) {}
    explicit BufferMemory(uint32_t base, const std::vector<uint8_t>& bytes)
        : BufferMemory(base, bytes.data(), static_cast<uint32_t>(bytes.size())) {}
    BufferMemory(uint32_t, std::vector<uint8_t>&&) = delete;  // would dangle
    bool Read(uint32_t address, void* buffer, uint32_t count) const override;
    uint32_t Base() const { return base_; }
    uint32_t Size() const { return size_; }

private:
    uint32_t base_;
    const uint8_t* data_;
    uint32_t size_;
};

// Known constant contents of the eight general registers (eax, ecx, edx, ebx, esp, ebp, esi,
// edi in encoding order). A value of 0 means "not known". `source` holds, for a known value,
// the address of the instruction field it was loaded from (the imm32 of a mov reg, imm32).
struct RegisterState {
    std::array<uint32_t, 8> value{};
    std::array<uint32_t, 8> source{};
    void Clear() { value.fill(0); source.fill(0); }
    bool operator==(const RegisterState&) const = default;
};

struct DecodedInstruction {
    bool IsValid = false;
    uint16_t Opcode = 0;       // one-byte opcode, or 0x0F00 | second byte
    uint8_t ModRm = 0;         // the ModR/M byte when HasModRm
    bool HasModRm = false;
    bool Call = false;         // transfers control as a call
    bool Jmp = false;          // transfers control as a jump (conditional or not)
    uint32_t Target = 0;       // absolute target when known, else 0
    uint32_t PTarget = 0;      // relative transfer: address of the displacement field
    uint32_t PPTarget = 0;     // transfer through an absolute cell: address of the cell-address field
    bool RelTarget = false;    // relative transfer
    uint8_t TargetSize = 0;    // size of the target field: 1, 2 or 4
    bool Enlargeable = false;  // relative transfer that can be rewritten with a 32-bit field
    uint32_t This = 0;         // address of the instruction
    uint32_t Next = 0;         // address after the instruction (after the bytes consumed)

    // Extra facts for the function analysis and the disassembly text.
    uint8_t Length() const { return static_cast<uint8_t>(Next - This); }
    bool IsReturn = false;           // ret, retf, iret
    bool IsFarTransfer = false;      // 0x9A / 0xEA / FF /3 / FF /5
    bool MemAbsolute = false;        // the memory operand is a bare 32-bit address
    uint32_t MemAddress = 0;         // ... which is this
    uint32_t MemAddressField = 0;    // ... stored at this address inside the instruction
    bool HasImm32 = false;           // the instruction carries a 32-bit immediate
    uint32_t Imm32 = 0;
    uint8_t Prefix66 = 0, Prefix67 = 0, Segment = 0;  // segment: 0 none, 1..6 = es cs ss ds fs gs
};

// Text of one decoded instruction, in the pieces the disassembly lays out.
struct InstructionText {
    std::string prefixes;               // "lock ", "rep ", "repne " (with trailing space) or empty
    std::string mnemonic;
    std::vector<std::string> operands;  // operand texts; a relative operand carries its " ($target)"
    int relOperand = -1;                // index of the relative-transfer operand, or -1
    // Plain rendering: prefixes + mnemonic + " " + operands joined by ", ".
    std::string Plain() const;
};

// Decodes the instruction at `address`. With `tryRead` false the cell of an indirect transfer
// through an absolute address is not read (its target then stays unknown).
DecodedInstruction ParseCode(const MemoryReader& memory, uint32_t address, bool tryRead = true);

// The same, resolving register-indirect transfers from `regs` and updating `regs` with the
// effect of the instruction.
DecodedInstruction ParseCode(const MemoryReader& memory, uint32_t address, RegisterState& regs,
                             bool tryRead = true);

// The text variant; `regs` may be null.
DecodedInstruction ParseCode(const MemoryReader& memory, uint32_t address, RegisterState* regs,
                             InstructionText& text, bool tryRead = true);

// Number forms of the operand text: -9..9 in decimal, everything else "$" + lower-case hex.
// `withSign` adds an explicit "+" for non-negative values.
std::string FormatNumber(int64_t value, bool withSign = false);
// "$" + 8 lower-case hex digits.
std::string FormatAddress(uint32_t value);
std::string Hex8(uint32_t value);

}  // namespace tidewell::disasm
