// x86 instruction decoder, for 32-bit (IA-32) and 64-bit (x86-64) code.
//
// Target addresses are uint64_t values of the analysed process. The caller chooses the mode
// (CpuMode); 32-bit mode is the default and keeps every address within 32 bits, as the
// processor does. Every byte of target memory is fetched through MemoryReader, which reports
// failure instead of faulting, so the decoder can be pointed at arbitrary, possibly unmapped
// addresses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tidewell::disasm {

// The processor mode the code runs in. X86: 32-bit protected mode (the default everywhere).
// X64: 64-bit long mode (REX prefixes, RIP-relative operands, 64-bit default operand size of
// stack and near-branch instructions, the opcodes that are invalid there).
enum class CpuMode : uint8_t { X86, X64 };

// Guarded read of the analysed process's memory: copies `count` bytes starting at `address`
// into `buffer`, or returns false (leaving the buffer in an unspecified state) when any of the
// bytes cannot be read. Implementations must never fault.
class MemoryReader {
public:
    virtual ~MemoryReader() = default;
    virtual bool Read(uint64_t address, void* buffer, uint32_t count) const = 0;
    // True when readability is the same over every aligned 4 KiB page, as with the memory of a
    // process: a page that cannot be read whole holds nothing readable.
    virtual bool PageGranular() const { return false; }
};

// A MemoryReader over a byte buffer that stands for target memory at `base`.
// The buffer is not copied; it must outlive the reader.
class BufferMemory final : public MemoryReader {
public:
    BufferMemory(uint64_t base, const uint8_t* data, uint32_t size) : base_(base), data_(data), size_(size) {}
    explicit BufferMemory(uint64_t base, const std::vector<uint8_t>& bytes)
        : BufferMemory(base, bytes.data(), static_cast<uint32_t>(bytes.size())) {}
    BufferMemory(uint64_t, std::vector<uint8_t>&&) = delete;  // would dangle
    bool Read(uint64_t address, void* buffer, uint32_t count) const override;
    uint64_t Base() const { return base_; }
    uint32_t Size() const { return size_; }

private:
    uint64_t base_;
    const uint8_t* data_;
    uint32_t size_;
};

// Known constant contents of the eight general registers (eax, ecx, edx, ebx, esp, ebp, esi,
// edi in encoding order). A value of 0 means "not known". `source` holds, for a known value,
// the address of the instruction field it was loaded from (the imm32 of a mov reg, imm32).
// Only 32-bit code is tracked: in 64-bit mode the state stays empty (nothing known), so no
// transfer is ever resolved through a register there.
struct RegisterState {
    std::array<uint32_t, 8> value{};
    std::array<uint32_t, 8> source{};
    void Clear() { value.fill(0); source.fill(0); }
    bool operator==(const RegisterState&) const = default;
};

struct DecodedInstruction {
    bool IsValid = false;
    uint16_t Opcode = 0;       // one-byte opcode, or 0x0F00 | second byte (VEX/EVEX: 0x0F00 | opcode byte)
    uint8_t ModRm = 0;         // the ModR/M byte when HasModRm
    bool HasModRm = false;
    bool Call = false;         // transfers control as a call
    bool Jmp = false;          // transfers control as a jump (conditional or not)
    uint64_t Target = 0;       // absolute target when known, else 0
    uint64_t PTarget = 0;      // relative transfer: address of the displacement field
    uint64_t PPTarget = 0;     // transfer through a cell: address of the field that locates the cell
                               // (the absolute address, or in 64-bit mode the RIP displacement)
    bool RelTarget = false;    // relative transfer
    uint8_t TargetSize = 0;    // size of the target field (1, 2 or 4), or of the cell read (4 or 8)
    bool Enlargeable = false;  // relative transfer that can be rewritten with a 32-bit field
    uint64_t This = 0;         // address of the instruction
    uint64_t Next = 0;         // address after the instruction (after the bytes consumed)

    // Extra facts for the function analysis and the disassembly text.
    uint8_t Length() const { return static_cast<uint8_t>(Next - This); }
    bool IsReturn = false;           // ret, retf, iret
    bool IsFarTransfer = false;      // 0x9A / 0xEA / FF /3 / FF /5
    bool MemAbsolute = false;        // the memory operand's address is known: a bare 32-bit address,
                                     // or in 64-bit mode a RIP-relative operand (the computed address)
    uint64_t MemAddress = 0;         // ... which is this
    uint64_t MemAddressField = 0;    // ... given by the field (address or displacement) at this address
    bool RipRelative = false;        // the memory operand is [rip + disp32] (64-bit mode)
    bool HasImm32 = false;           // the instruction carries a 32-bit immediate
    uint32_t Imm32 = 0;
    bool HasImm64 = false;           // mov r64, imm64 (64-bit mode)
    uint64_t Imm64 = 0;
    uint8_t Prefix66 = 0, Prefix67 = 0, Segment = 0;  // segment: 0 none, 1..6 = es cs ss ds fs gs
    uint8_t Rex = 0;                 // the REX prefix (0x40..0x4F) in effect, or 0
    uint8_t Vex = 0;                 // 0, or the escape of a VEX/EVEX instruction: 0xC4, 0xC5 or 0x62
    CpuMode Mode = CpuMode::X86;
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
// through a known cell address is not read (its target then stays unknown). `mode` selects
// 32-bit or 64-bit code; in 32-bit mode `address` must lie below 4 GiB (above it nothing can be
// read) and every computed address wraps at 32 bits.
DecodedInstruction ParseCode(const MemoryReader& memory, uint64_t address, bool tryRead = true,
                             CpuMode mode = CpuMode::X86);

// The same, resolving register-indirect transfers from `regs` and updating `regs` with the
// effect of the instruction (32-bit mode; in 64-bit mode `regs` is only cleared).
DecodedInstruction ParseCode(const MemoryReader& memory, uint64_t address, RegisterState& regs,
                             bool tryRead = true, CpuMode mode = CpuMode::X86);

// The text variant; `regs` may be null.
DecodedInstruction ParseCode(const MemoryReader& memory, uint64_t address, RegisterState* regs,
                             InstructionText& text, bool tryRead = true, CpuMode mode = CpuMode::X86);

// Number forms of the operand text: -9..9 in decimal, everything else "$" + lower-case hex.
// `withSign` adds an explicit "+" for non-negative values.
std::string FormatNumber(int64_t value, bool withSign = false);
// "$" + 8 lower-case hex digits (the low 32 bits).
std::string FormatAddress(uint32_t value);
std::string Hex8(uint32_t value);
// "$" + 16 lower-case hex digits.
std::string FormatAddress64(uint64_t value);
std::string Hex16(uint64_t value);
// The address form of a mode: 8 hex digits in 32-bit mode, 16 in 64-bit mode.
std::string HexAddress(uint64_t value, CpuMode mode);

}  // namespace tidewell::disasm
