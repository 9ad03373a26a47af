#include "crash/analysis/disasm/Decoder.h"

#include <cstring>
#include <string_view>

#include "crash/analysis/disasm/OpcodeTables.h"

namespace tidewell::disasm {

using detail::Entry;
using detail::Operand;
using detail::OpKind;
using detail::Slot;
using detail::Special;

bool BufferMemory::Read(uint64_t address, void* buffer, uint32_t count) const {
    if (count == 0) return true;
    if (address < base_ || address - base_ >= size_) return false;
    const uint32_t offset = static_cast<uint32_t>(address - base_);
    if (count > size_ - offset) return false;
    std::memcpy(buffer, data_ + offset, count);
    return true;
}

std::string Hex8(uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) s[static_cast<size_t>(i)] = digits[value & 15];
    return s;
}

std::string FormatAddress(uint32_t value) { return "$" + Hex8(value); }

std::string Hex16(uint64_t value) {
    return Hex8(static_cast<uint32_t>(value >> 32)) + Hex8(static_cast<uint32_t>(value));
}

std::string FormatAddress64(uint64_t value) { return "$" + Hex16(value); }

std::string HexAddress(uint64_t value, CpuMode mode) {
    return mode == CpuMode::X64 ? Hex16(value) : Hex8(static_cast<uint32_t>(value));
}

std::string FormatNumber(int64_t value, bool withSign) {
    std::string sign;
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        sign = "-";
        magnitude = 0 - magnitude;
    } else if (withSign) {
        sign = "+";
    }
    if (magnitude <= 9) return sign + static_cast<char>('0' + magnitude);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    while (magnitude) {
        hex.insert(hex.begin(), digits[magnitude & 15]);
        magnitude >>= 4;
    }
    return sign + "$" + hex;
}

std::string InstructionText::Plain() const {
    std::string s = prefixes + mnemonic;
    for (size_t i = 0; i < operands.size(); ++i) {
        s += i ? ", " : " ";
        s += operands[i];
    }
    return s;
}

namespace {

constexpr uint32_t kMaxLength = 15;

const char* const kReg64[16] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                                "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
const char* const kReg32[16] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi",
                                "r8d", "r9d", "r10d", "r11d", "r12d", "r13d", "r14d", "r15d"};
const char* const kReg16[16] = {"ax",  "cx",  "dx",  "bx",  "sp",  "bp",  "si",  "di",
                                "r8w", "r9w", "r10w", "r11w", "r12w", "r13w", "r14w", "r15w"};
const char* const kReg8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
// Byte registers when any REX prefix is present.
const char* const kReg8Rex[16] = {"al",  "cl",  "dl",  "bl",  "spl", "bpl", "sil", "dil",
                                  "r8b", "r9b", "r10b", "r11b", "r12b", "r13b", "r14b", "r15b"};

// Unsigned number in the operand-text form ("$" + hex above 9).
std::string FormatUnsigned(uint64_t value) {
    if (value <= 9) return std::string(1, static_cast<char>('0' + value));
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    while (value) {
        hex.insert(hex.begin(), digits[value & 15]);
        value >>= 4;
    }
    return "$" + hex;
}
const char* const kSeg[8] = {"es", "cs", "ss", "ds", "fs", "gs", "?", "?"};

// Reads the instruction bytes through the guarded read; a byte that cannot be read, or a
// byte beyond the architectural limit of 15, marks the instruction as failed.
class Cursor {
public:
    // `top` is the highest address of the mode (2^32 - 1 or 2^64 - 1); nothing above it is read.
    Cursor(const MemoryReader& memory, uint64_t start, uint64_t top) : start_(start), top_(top) {
        if (start > top) return;
        if (top - start >= sizeof bytes_ && memory.Read(start, bytes_, sizeof bytes_)) {
            available_ = sizeof bytes_;
        } else {
            while (available_ < sizeof bytes_ && available_ <= top - start &&
                   memory.Read(start + available_, bytes_ + available_, 1))
                ++available_;
        }
    }
    uint8_t Byte() {
        if (pos_ >= available_ || pos_ >= kMaxLength) {
            failed_ = true;
            ++pos_;
            return 0;
        }
        return bytes_[pos_++];
    }
    uint8_t Peek(uint32_t ahead = 0) const { return pos_ + ahead < available_ ? bytes_[pos_ + ahead] : 0; }
    uint64_t Value(int size) {
        uint64_t v = 0;
        for (int i = 0; i < size; ++i) v |= static_cast<uint64_t>(Byte()) << (8 * i);
        return v;
    }
    uint64_t Address() const { return (start_ + pos_) & top_; }
    uint32_t Pos() const { return pos_; }
    bool Failed() const { return failed_; }
    // The bytes consumed, counting a byte whose read failed.
    uint32_t Consumed() const { return pos_; }

private:
    uint64_t start_;
    uint64_t top_;
    uint8_t bytes_[16] = {};
    uint32_t available_ = 0;
    uint32_t pos_ = 0;
    bool failed_ = false;
};

struct ModRm {
    uint8_t byte = 0, mod = 0, reg = 0, rm = 0;
    uint8_t regX = 0, rmX = 0;  // reg and r/m extended by REX.R / REX.B (64-bit mode)
    bool hasSib = false;
    int base = -1, index = -1;  // register numbers, -1 none (16-bit forms use base16)
    int scale = 1;
    int32_t disp = 0;
    bool hasDisp = false;
    bool rip = false;           // [rip + disp32] (64-bit mode)
    uint64_t dispField = 0;     // address of the displacement field
    uint8_t dispSize = 0;
    const char* base16 = nullptr;  // "bx+si" etc. under 0x67
};

struct State {
    bool x64 = false;       // 64-bit mode
    uint8_t rex = 0;        // REX prefix in effect (64-bit mode), 0 none
    bool opsize64 = false;  // REX.W, or a default 64-bit operation
    bool addr32 = false;    // 0x67 in 64-bit mode: 32-bit addressing
    bool opsize16 = false, addr16 = false, lock = false;
    uint8_t rep = 0;      // 0, 0xF2 or 0xF3 (last one given)
    uint8_t segment = 0;  // 1..6
    bool has66 = false;
};

int SizeOf(uint8_t code, const State& st) {
    switch (code) {
    case detail::kSizeV: return st.opsize64 ? 8 : st.opsize16 ? 2 : 4;
    case detail::kSizeZ: return st.opsize16 && !st.opsize64 ? 2 : 4;
    case detail::kSizeP: return st.opsize64 ? 10 : st.opsize16 ? 4 : 6;
    default: return code;
    }
}

void DecodeModRm(Cursor& c, const State& st, ModRm& m) {
    m.byte = c.Byte();
    m.mod = m.byte >> 6;
    m.reg = (m.byte >> 3) & 7;
    m.rm = m.byte & 7;
    m.regX = static_cast<uint8_t>(m.reg | ((st.rex & 4) << 1));
    m.rmX = static_cast<uint8_t>(m.rm | ((st.rex & 1) << 3));
    if (m.mod == 3) return;
    if (st.addr16) {
        static const char* const forms[8] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};
        if (m.mod == 0 && m.rm == 6) {
            m.hasDisp = true;
            m.dispSize = 2;
        } else {
            m.base16 = forms[m.rm];
            if (m.mod == 1) m.dispSize = 1;
            if (m.mod == 2) m.dispSize = 2;
            m.hasDisp = m.dispSize != 0;
        }
        m.dispField = c.Address();
        if (m.dispSize == 1) m.disp = static_cast<int8_t>(c.Byte());
        else if (m.dispSize == 2) m.disp = m.base16 ? static_cast<int16_t>(c.Value(2)) : static_cast<int32_t>(c.Value(2));
        return;
    }
    if (m.rm == 4) {
        m.hasSib = true;
        uint8_t sib = c.Byte();
        m.scale = 1 << (sib >> 6);
        int index = ((sib >> 3) & 7) | ((st.rex & 2) << 2);
        m.index = index == 4 ? -1 : index;
        int base = sib & 7;
        if (base == 5 && m.mod == 0) {
            m.base = -1;
            m.dispSize = 4;
        } else {
            m.base = base | ((st.rex & 1) << 3);
        }
    } else if (m.mod == 0 && m.rm == 5) {
        m.base = -1;
        m.dispSize = 4;
        m.rip = st.x64;
    } else {
        m.base = m.rmX;
    }
    if (m.mod == 1) m.dispSize = 1;
    if (m.mod == 2) m.dispSize = 4;
    m.hasDisp = m.dispSize != 0;
    m.dispField = c.Address();
    if (m.dispSize == 1) m.disp = static_cast<int8_t>(c.Byte());
    else if (m.dispSize == 4) m.disp = static_cast<int32_t>(c.Value(4));
}

bool IsMemoryOnly(OpKind k) { return k == OpKind::M; }
bool IsRegisterOnly(OpKind k) { return k == OpKind::R || k == OpKind::N || k == OpKind::U; }

// x87 escapes D8..DF.
struct X87Mem { const char* name; uint8_t size; };
const X87Mem kX87Mem[8][8] = {
    {{"fadd", 4}, {"fmul", 4}, {"fcom", 4}, {"fcomp", 4}, {"fsub", 4}, {"fsubr", 4}, {"fdiv", 4}, {"fdivr", 4}},
    {{"fld", 4}, {nullptr, 0}, {"fst", 4}, {"fstp", 4}, {"fldenv", 0}, {"fldcw", 2}, {"fnstenv", 0}, {"fnstcw", 2}},
    {{"fiadd", 4}, {"fimul", 4}, {"ficom", 4}, {"ficomp", 4}, {"fisub", 4}, {"fisubr", 4}, {"fidiv", 4}, {"fidivr", 4}},
    {{"fild", 4}, {"fisttp", 4}, {"fist", 4}, {"fistp", 4}, {nullptr, 0}, {"fld", 10}, {nullptr, 0}, {"fstp", 10}},
    {{"fadd", 8}, {"fmul", 8}, {"fcom", 8}, {"fcomp", 8}, {"fsub", 8}, {"fsubr", 8}, {"fdiv", 8}, {"fdivr", 8}},
    {{"fld", 8}, {"fisttp", 8}, {"fst", 8}, {"fstp", 8}, {"frstor", 0}, {nullptr, 0}, {"fnsave", 0}, {"fnstsw", 2}},
    {{"fiadd", 2}, {"fimul", 2}, {"ficom", 2}, {"ficomp", 2}, {"fisub", 2}, {"fisubr", 2}, {"fidiv", 2}, {"fidivr", 2}},
    {{"fild", 2}, {"fisttp", 2}, {"fist", 2}, {"fistp", 2}, {"fbld", 10}, {"fild", 8}, {"fbstp", 10}, {"fistp", 8}},
};

// Register forms. Operand shapes: 0 none, 1 "st(i)", 2 "st(0), st(i)", 3 "st(i), st(0)", 4 "ax".
struct X87Reg { const char* name; uint8_t shape; };
X87Reg X87Register(uint8_t opcode, uint8_t modrm) {
    const int reg = (modrm >> 3) & 7;
    const int rm = modrm & 7;
    switch (opcode) {
    case 0xD8: {
        static const char* const n[8] = {"fadd", "fmul", "fcom", "fcomp", "fsub", "fsubr", "fdiv", "fdivr"};
        return {n[reg], static_cast<uint8_t>(reg == 2 || reg == 3 ? 1 : 2)};
    }
    case 0xD9:
        switch (reg) {
        case 0: return {"fld", 1};
        case 1: return {"fxch", 1};
        case 2: return {rm == 0 ? "fnop" : nullptr, 0};
        case 3: return {"fstp1", 1};
        case 4: {
            static const char* const n[8] = {"fchs", "fabs", nullptr, nullptr, "ftst", "fxam", nullptr, nullptr};
            return {n[rm], 0};
        }
        case 5: {
            static const char* const n[8] = {"fld1", "fldl2t", "fldl2e", "fldpi", "fldlg2", "fldln2", "fldz", nullptr};
            return {n[rm], 0};
        }
        case 6: {
            static const char* const n[8] = {"f2xm1", "fyl2x", "fptan", "fpatan", "fxtract", "fprem1", "fdecstp", "fincstp"};
            return {n[rm], 0};
        }
        default: {
            static const char* const n[8] = {"fprem", "fyl2xp1", "fsqrt", "fsincos", "frndint", "fscale", "fsin", "fcos"};
            return {n[rm], 0};
        }
        }
    case 0xDA: {
        static const char* const n[4] = {"fcmovb", "fcmove", "fcmovbe", "fcmovu"};
        if (reg < 4) return {n[reg], 2};
        if (modrm == 0xE9) return {"fucompp", 0};
        return {nullptr, 0};
    }
    case 0xDB: {
        static const char* const n[4] = {"fcmovnb", "fcmovne", "fcmovnbe", "fcmovnu"};
        if (reg < 4) return {n[reg], 2};
        if (modrm == 0xE0) return {"feni", 0};  // 8087 controls, no-ops since the 287
        if (modrm == 0xE1) return {"fdisi", 0};
        if (modrm == 0xE4) return {"fsetpm", 0};
        if (modrm == 0xE2) return {"fnclex", 0};
        if (modrm == 0xE3) return {"fninit", 0};
        if (reg == 5) return {"fucomi", 2};
        if (reg == 6) return {"fcomi", 2};
        return {nullptr, 0};
    }
    case 0xDC: {
        static const char* const n[8] = {"fadd", "fmul", "fcom2", "fcomp3", "fsubr", "fsub", "fdivr", "fdiv"};
        return {n[reg], static_cast<uint8_t>(reg == 2 || reg == 3 ? 1 : 3)};
    }
    case 0xDD: {
        static const char* const n[8] = {"ffree", "fxch4", "fst", "fstp", "fucom", "fucomp", nullptr, nullptr};
        return {n[reg], 1};
    }
    case 0xDE: {
        static const char* const n[8] = {"faddp", "fmulp", "fcomp5", nullptr, "fsubrp", "fsubp", "fdivrp", "fdivp"};
        if (reg == 3) return {modrm == 0xD9 ? "fcompp" : nullptr, 0};
        return {n[reg], static_cast<uint8_t>(reg == 2 ? 1 : 3)};
    }
    default: {  // 0xDF
        if (reg == 4) return {modrm == 0xE0 ? "fnstsw" : nullptr, 4};
        static const char* const n[8] = {"ffreep", "fxch7", "fstp8", "fstp9", nullptr, "fucomip", "fcomip", nullptr};
        return {n[reg], static_cast<uint8_t>(reg == 5 || reg == 6 ? 2 : 1)};
    }
    }
}

// Mnemonics whose first operand is read, not written.
bool FirstOperandIsRead(std::string_view m) {
    static const char* const names[] = {"cmp", "test", "bt", "push", "out", "call", "jmp", "verr", "verw",
                                        "lldt", "ltr", "lmsw", "nop", "bound", "ptest", "ucomiss", "ucomisd",
                                        "comiss", "comisd"};
    for (const char* n : names)
        if (m == n) return true;
    return false;
}

// One-byte opcodes that do not exist in 64-bit mode (C4, C5 and 62 are the VEX and EVEX escapes
// there, decoded before this is asked).
bool InvalidIn64(uint8_t op) {
    switch (op) {
    case 0x06: case 0x07: case 0x0E: case 0x16: case 0x17: case 0x1E: case 0x1F: case 0x27: case 0x2F:
    case 0x37: case 0x3F: case 0x60: case 0x61: case 0x82: case 0x9A: case 0xCE: case 0xD4: case 0xD5:
    case 0xD6: case 0xEA:
        return true;
    default:
        return false;
    }
}

// 64-bit mode: near branches always have a 64-bit operand size (0x66 is ignored, as Intel's
// processors do).
bool NearBranch64(uint16_t op) {
    return op == 0xE8 || op == 0xE9 || op == 0xEB || (op >= 0x70 && op <= 0x7F) || (op >= 0x0F80 && op <= 0x0F8F) ||
           (op >= 0xE0 && op <= 0xE3);
}

// 64-bit mode: stack operations default to a 64-bit operand size (0x66 makes them 16-bit).
bool Default64(uint16_t op) {
    return (op >= 0x50 && op <= 0x5F) || op == 0x68 || op == 0x6A || op == 0x8F || op == 0x9C || op == 0x9D ||
           op == 0xC8 || op == 0xC9 || op == 0x0FA0 || op == 0x0FA1 || op == 0x0FA8 || op == 0x0FA9;
}

// The lock prefix is defined only on the read-modify-write instructions with a memory
// destination; on anything else the processor raises #UD.
bool Lockable(uint16_t op, bool hasModRm, uint8_t modrm) {
    if (!hasModRm || (modrm >> 6) == 3) return false;
    const uint8_t reg = (modrm >> 3) & 7;
    switch (op) {
    case 0x00: case 0x01: case 0x08: case 0x09: case 0x10: case 0x11: case 0x18: case 0x19:  // add or adc sbb
    case 0x20: case 0x21: case 0x28: case 0x29: case 0x30: case 0x31:                        // and sub xor
    case 0x86: case 0x87:                                                                    // xchg
    case 0x0FAB: case 0x0FB3: case 0x0FBB:                                                   // bts btr btc
    case 0x0FB0: case 0x0FB1: case 0x0FC0: case 0x0FC1:                                      // cmpxchg xadd
        return true;
    case 0x80: case 0x81: case 0x82: case 0x83: return reg != 7;  // not cmp
    case 0xF6: case 0xF7: return reg == 2 || reg == 3;            // not, neg
    case 0xFE: case 0xFF: return reg <= 1;                        // inc, dec
    case 0x0FBA: return reg >= 5;                                 // bts btr btc with imm8
    case 0x0FC7: return reg == 1;                                 // cmpxchg8b / cmpxchg16b
    default: return false;
    }
}

bool InRanges(uint8_t op, std::initializer_list<std::pair<uint8_t, uint8_t>> ranges) {
    for (const auto& [lo, hi] : ranges)
        if (op >= lo && op <= hi) return true;
    return false;
}

// Opcodes of the VEX and EVEX map 1 (the 0x0F map) that are defined. Maps 2 and 3 (0F 38 and
// 0F 3A) are accepted whole: every opcode there has a ModR/M byte (and in map 3 an imm8), so
// lengths are right whatever the opcode.
bool VexMap1Valid(uint8_t op, bool evex) {
    if (evex)
        return InRanges(op, {{0x10, 0x17}, {0x28, 0x2F}, {0x51, 0x76}, {0x78, 0x7F}, {0xC2, 0xC2}, {0xC4, 0xC6},
                             {0xD1, 0xEF}, {0xF1, 0xF6}, {0xF8, 0xFE}});
    return InRanges(op, {{0x10, 0x17}, {0x28, 0x2F}, {0x41, 0x42}, {0x44, 0x47}, {0x4A, 0x4B}, {0x50, 0x77},
                         {0x7C, 0x7F}, {0x90, 0x93}, {0x98, 0x99}, {0xAE, 0xAE}, {0xC2, 0xC2}, {0xC4, 0xC6},
                         {0xD0, 0xFE}});
}

class Decoder {
public:
    Decoder(const MemoryReader& memory, uint64_t address, RegisterState* regs, InstructionText* text, bool tryRead,
            CpuMode mode)
        : memory_(memory), regs_(regs), text_(text), tryRead_(tryRead),
          top_(mode == CpuMode::X64 ? UINT64_MAX : UINT32_MAX), c_(memory, address, top_) {
        d_.This = address;
        d_.Mode = mode;
        st_.x64 = mode == CpuMode::X64;
    }

    DecodedInstruction Run() {
        bool ok = Decode();
        d_.Next = (d_.This + c_.Consumed()) & top_;
        if (c_.Failed()) ok = false;
        if (ok && st_.lock && !Lockable(d_.Opcode, d_.HasModRm, d_.ModRm)) ok = false;
        d_.IsValid = ok;
        if (!ok) {
            // Nothing about an undecodable instruction is trusted.
            DecodedInstruction invalid;
            invalid.This = d_.This;
            invalid.Next = d_.Next;
            invalid.Opcode = d_.Opcode;
            invalid.ModRm = d_.ModRm;
            invalid.HasModRm = d_.HasModRm;
            invalid.Mode = d_.Mode;
            if (regs_) regs_->Clear();
            if (text_) {
                *text_ = InstructionText{};
                text_->mnemonic = "invalid";
            }
            return invalid;
        }
        ResolveTargets();
        if (!d_.IsValid) {
            if (text_) {
                *text_ = InstructionText{};
                text_->mnemonic = "invalid";
            }
            return d_;
        }
        if ((d_.Call || d_.Jmp) && d_.Target != 0 && d_.Target == d_.Next && !d_.IsFarTransfer) {
            // A call or jump to the next instruction only reads the instruction pointer.
            d_.Call = d_.Jmp = false;
            d_.Target = d_.PTarget = d_.PPTarget = 0;
            d_.RelTarget = false;
            d_.TargetSize = 0;
            d_.Enlargeable = false;
        }
        if (regs_) {
            // Register contents are tracked in 32-bit code only.
            if (st_.x64) regs_->Clear();
            else TrackRegisters();
        }
        if (text_) BuildText();
        return d_;
    }

private:
    bool Decode() {
        // Prefixes.
        for (;;) {
            uint8_t b = c_.Peek();
            if (c_.Failed() || c_.Pos() >= kMaxLength) return false;
            if (st_.x64 && (b & 0xF0) == 0x40) {
                // REX: counts only directly before the opcode; a prefix after it cancels it.
                st_.rex = b;
                c_.Byte();
                continue;
            }
            if (b == 0x66) { st_.has66 = true; st_.opsize16 = true; }
            else if (b == 0x67) (st_.x64 ? st_.addr32 : st_.addr16) = true;
            else if (b == 0xF0) st_.lock = true;
            else if (b == 0xF2 || b == 0xF3) st_.rep = b;
            else if (b == 0x26) st_.segment = 1;
            else if (b == 0x2E) st_.segment = 2;
            else if (b == 0x36) st_.segment = 3;
            else if (b == 0x3E) st_.segment = 4;
            else if (b == 0x64) st_.segment = 5;
            else if (b == 0x65) st_.segment = 6;
            else break;
            st_.rex = 0;
            c_.Byte();
        }
        d_.Prefix66 = st_.has66;
        d_.Prefix67 = st_.addr16 || st_.addr32;
        d_.Segment = st_.segment;
        d_.Rex = st_.rex;
        if (st_.rex & 8) st_.opsize64 = true;

        const auto& t = detail::GetTables();
        uint8_t op = c_.Byte();
        if (c_.Failed()) return false;
        // C4/C5 (LES/LDS) and 62 (BOUND) are the VEX and EVEX escapes in 64-bit mode. (In 32-bit
        // mode they are too where the next byte would be a register-form ModR/M; those stay
        // invalid here, since which of them are defined depends on per-opcode rules about the
        // unused vvvv field that the tables do not hold. See README.)
        if ((op == 0xC4 || op == 0xC5 || op == 0x62) && st_.x64) return DecodeVex(op);
        if (st_.x64 && InvalidIn64(op)) return false;
        const Slot* slot = &t.oneByte[op];
        d_.Opcode = op;
        twoByte_ = op == 0x0F;
        if (twoByte_) {
            uint8_t op2 = c_.Byte();
            if (c_.Failed()) return false;
            d_.Opcode = static_cast<uint16_t>(0x0F00 | op2);
            slot = &t.twoByte[op2];
            if (slot->special == Special::Map0F38 || slot->special == Special::Map0F3A) {
                uint8_t op3 = c_.Byte();
                if (c_.Failed()) return false;
                slot = slot->special == Special::Map0F38 ? &t.map0F38[op3] : &t.map0F3A[op3];
            }
        }
        if (!slot->entry.valid) return false;
        if (slot->special == Special::X87) return DecodeX87(op);
        if (st_.x64 && NearBranch64(d_.Opcode)) {
            st_.opsize16 = false;
            st_.opsize64 = true;
        } else if (st_.x64 && Default64(d_.Opcode) && !st_.opsize16) {
            st_.opsize64 = true;
        }

        Entry entry = slot->entry;
        if (st_.x64 && op == 0x63) {  // arpl is movsxd in 64-bit mode
            entry = Entry{};
            std::strcpy(entry.mnemonic, "movsxd");
            entry.ops[0] = {OpKind::G, detail::kSizeV, 0};
            entry.ops[1] = {OpKind::E, 4, 0};
            entry.count = 2;
            entry.modrm = true;
            entry.valid = true;
        }
        if (st_.x64 && op == 0x90 && (st_.rex & 1)) {  // 90 with REX.B is xchg r8, rax
            entry = Entry{};
            std::strcpy(entry.mnemonic, "xchg");
            entry.ops[0] = {OpKind::OpReg, detail::kSizeV, 0};
            entry.ops[1] = {OpKind::FixedReg, detail::kSizeV, 0};
            entry.count = 2;
            entry.valid = true;
        }
        if (slot->variants) {
            // F3/F2 select a variant where one exists and are ignored (as the processor does)
            // where none does; the same holds for 66.
            int v = st_.rep == 0xF3 ? 2 : st_.rep == 0xF2 ? 3 : 0;
            if (v && !t.variants[slot->variantBase(v)].valid) v = 0;
            if (v == 0 && st_.has66 && t.variants[slot->variantBase(1)].valid) v = 1;
            entry = t.variants[slot->variantBase(v)];
            if (v == 1) st_.opsize16 = false;            // 66 selects the variant
            if (v >= 2) repConsumed_ = true;             // F3/F2 select the variant
            if (!entry.valid) return false;
        }
        if (entry.modrm || slot->group >= 0 || slot->special == Special::ThreeDNow) {
            DecodeModRm(c_, st_, m_);
            d_.HasModRm = true;
            d_.ModRm = m_.byte;
            if (c_.Failed()) return false;
        }
        if (slot->special == Special::ThreeDNow) {
            uint8_t suffix = c_.Byte();
            if (c_.Failed() || !t.threeDNow[suffix]) return false;
            entry = Entry{};
            entry.valid = true;
            std::strncpy(entry.mnemonic, t.threeDNow[suffix], sizeof entry.mnemonic - 1);
            entry.ops[0] = {OpKind::P, 8, 0};
            entry.ops[1] = {OpKind::Q, 8, 0};
            entry.count = 2;
            entry_ = entry;
            return true;
        }
        if (slot->group >= 0) {
            const detail::Group& g = t.groups[slot->group];
            const Entry* member = m_.mod == 3 ? &g.reg[m_.reg] : &g.mem[m_.reg];
            if (st_.x64 && (op == 0xFF || op == 0x8F)) {
                // Indirect near call and jump take a 64-bit operand whatever 0x66 says; push
                // and pop default to one.
                if (op == 0xFF && (m_.reg == 2 || m_.reg == 4)) {
                    st_.opsize16 = false;
                    st_.opsize64 = true;
                } else if ((op == 0xFF && m_.reg == 6) || op == 0x8F) {
                    if (!st_.opsize16) st_.opsize64 = true;
                }
            }
            if (m_.mod == 3 && g.regSpecial[m_.reg]) {
                if (!SpecialRegisterForm(entry)) return false;
            } else {
                if (!member->valid) return false;
                std::memcpy(entry.mnemonic, member->mnemonic, sizeof entry.mnemonic);
                if (member->count) {
                    std::memcpy(entry.ops, member->ops, sizeof entry.ops);
                    entry.count = member->count;
                }
            }
            // MMX shifts by immediate: 66 selects the XMM form.
            if (d_.Opcode >= 0x0F71 && d_.Opcode <= 0x0F73) {
                bool xmmOnly = entry.ops[0].kind == OpKind::U;
                if (xmmOnly && !st_.has66) return false;
                if (st_.has66) {
                    entry.ops[0].kind = OpKind::U;
                    entry.ops[0].size = 16;
                    st_.opsize16 = false;
                }
            }
        }
        if (slot->splitRegForm && m_.mod == 3 && entry.ops[1].kind == OpKind::M) {
            std::strcpy(entry.mnemonic, d_.Opcode == 0x0F12 ? "movhlps" : "movlhps");
            entry.ops[1] = {OpKind::U, 16, 0};
        }
        if (st_.x64 && twoByte_) {
            if (d_.Opcode >= 0x0F20 && d_.Opcode <= 0x0F23) {
                // Control and debug register moves always move 64 bits.
                for (auto& o : entry.ops)
                    if (o.kind == OpKind::R) o.size = 8;
            } else if (st_.rex & 8) {
                // REX.W widens the doubleword general operands of the 0x0F map (movd -> movq,
                // cvtsi2sd r64, ...).
                for (auto& o : entry.ops)
                    if ((o.kind == OpKind::E || o.kind == OpKind::G) && o.size == 4) o.size = 8;
                if (std::strcmp(entry.mnemonic, "movd") == 0) std::strcpy(entry.mnemonic, "movq");
                if (std::strcmp(entry.mnemonic, "cmpxchg8b") == 0) {
                    std::strcpy(entry.mnemonic, "cmpxchg16b");
                    entry.ops[0].size = 16;
                }
            }
        }
        entry_ = entry;

        // Operand validity and immediates.
        for (int i = 0; i < entry.count; ++i) {
            const Operand& o = entry.ops[i];
            if (IsMemoryOnly(o.kind) && m_.mod == 3) return false;
            if (IsRegisterOnly(o.kind) && m_.mod != 3) return false;
            if (o.kind == OpKind::S && m_.reg >= 6) return false;
            if (o.kind == OpKind::C && (m_.regX == 1 || (m_.regX > 4 && m_.regX != 8))) return false;
            if (o.kind == OpKind::D && m_.regX > 7) return false;
        }
        if (op == 0x8C && m_.reg >= 6) return false;
        for (int i = 0; i < entry.count; ++i) ReadImmediate(entry.ops[i], i);
        return !c_.Failed();
    }

    // VEX (C4 three-byte, C5 two-byte) and EVEX (62) encoded instructions: escape, payload,
    // opcode byte of the selected map, ModR/M with SIB and displacement, and an imm8 where the
    // map or opcode takes one. The text gives the mnemonic and the ModR/M operands only.
    bool DecodeVex(uint8_t esc) {
        // 66, F2, F3, REX and lock before VEX/EVEX make the instruction undefined.
        if (st_.has66 || st_.rep || st_.lock || st_.rex) return false;
        const bool evex = esc == 0x62;
        uint8_t p0 = c_.Byte(), p1 = 0, p2 = 0;
        bool r = !(p0 & 0x80), x = false, b = false, w = false, r2 = false;
        int map = 1, pp = 0, length = 0;
        if (esc == 0xC5) {
            length = (p0 >> 2) & 1;
            pp = p0 & 3;
        } else if (esc == 0xC4) {
            p1 = c_.Byte();
            x = !(p0 & 0x40);
            b = !(p0 & 0x20);
            map = p0 & 0x1F;
            w = p1 & 0x80;
            length = (p1 >> 2) & 1;
            pp = p1 & 3;
            if (map < 1 || map > 3) return false;
        } else {
            p1 = c_.Byte();
            p2 = c_.Byte();
            x = !(p0 & 0x40);
            b = !(p0 & 0x20);
            r2 = !(p0 & 0x10);
            map = p0 & 7;
            w = p1 & 0x80;
            pp = p1 & 3;
            length = (p2 >> 5) & 3;
            if ((p0 & 0x08) || !(p1 & 0x04)) return false;  // reserved bits
            if (map != 1 && map != 2 && map != 3 && map != 5 && map != 6) return false;
        }
        if (c_.Failed()) return false;
        if (!st_.x64) r = x = b = r2 = false;  // 32-bit mode: only eight registers
        const uint8_t op = c_.Byte();
        if (c_.Failed()) return false;
        d_.Vex = esc;
        d_.Opcode = static_cast<uint16_t>(0x0F00 | op);
        twoByte_ = true;
        if (map == 1 && !VexMap1Valid(op, evex)) return false;
        const bool hasModRm = evex || !(map == 1 && op == 0x77);
        const bool hasImm8 = map == 3 || (map == 1 && (InRanges(op, {{0x70, 0x73}, {0xC2, 0xC2}, {0xC4, 0xC6}})));
        // The REX bits the payload carries decide the ModR/M registers as REX would.
        const uint8_t rex = static_cast<uint8_t>((w ? 8 : 0) | (r ? 4 : 0) | (x ? 2 : 0) | (b ? 1 : 0));
        const uint8_t savedRex = st_.rex;
        st_.rex = rex;
        if (hasModRm) {
            DecodeModRm(c_, st_, m_);
            d_.HasModRm = true;
            d_.ModRm = m_.byte;
            if (c_.Failed()) return false;
            if (map == 1 && op == 0xAE && (m_.mod == 3 || (m_.reg != 2 && m_.reg != 3))) return false;
        }
        uint8_t imm = 0;
        if (hasImm8) {
            imm = c_.Byte();
            if (c_.Failed()) return false;
        }

        // Text: the mnemonic of the legacy instruction the opcode and pp select, with "v".
        const auto& t = detail::GetTables();
        const Slot* slot = map == 1 ? &t.twoByte[op] : map == 2 ? &t.map0F38[op] : map == 3 ? &t.map0F3A[op] : nullptr;
        std::string name;
        if (slot && slot->variants && t.variants[slot->variantBase(pp)].valid)
            name = t.variants[slot->variantBase(pp)].mnemonic;
        else if (slot && !slot->variants && slot->entry.valid && slot->group < 0 && slot->special == Special::None)
            name = slot->entry.mnemonic;
        if (map == 1 && op == 0x77) name = length ? "zeroall" : "zeroupper";
        if (name.empty()) {
            static const char digits[] = "0123456789abcdef";
            name = std::string(evex ? "evex" : "vex") + ".m" + std::to_string(map) + "." + digits[op >> 4] + digits[op & 15];
        } else {
            name = "v" + name;
        }
        entry_ = Entry{};
        entry_.valid = true;
        entry_.count = hasModRm ? 1 : 0;  // a memory operand's address counts (MemAbsolute)
        vex_ = {name, hasModRm, hasImm8, imm, length, r2, x && evex};
        st_.rex = savedRex;
        return true;
    }

    // Operand text of a VEX/EVEX instruction (built once the instruction's end is known).
    std::vector<std::string> VexOperands() const {
        static const char* const vectorNames[4] = {"xmm", "ymm", "zmm", "?mm"};
        std::vector<std::string> ops;
        if (vex_.hasModRm) {
            ops.push_back(vectorNames[vex_.length] + std::to_string(m_.regX | (vex_.r2 ? 16 : 0)));
            if (m_.mod == 3) ops.push_back(vectorNames[vex_.length] + std::to_string(m_.rmX | (vex_.x2 ? 16 : 0)));
            else ops.push_back(MemoryText(0, false));
        }
        if (vex_.hasImm8) ops.push_back(FormatUnsigned(vex_.imm));
        return ops;
    }

    // Register forms of 0F 01 that are chosen by the whole ModR/M byte.
    bool SpecialRegisterForm(Entry& entry) {
        static const struct { uint16_t opcode; uint8_t modrm; const char* name; } forms[] = {
            {0x0F01, 0xC1, "vmcall"}, {0x0F01, 0xC2, "vmlaunch"}, {0x0F01, 0xC3, "vmresume"},
            {0x0F01, 0xC4, "vmxoff"}, {0x0F01, 0xC8, "monitor"},  {0x0F01, 0xC9, "mwait"},
            {0x0F01, 0xCA, "clac"},   {0x0F01, 0xCB, "stac"},     {0x0F01, 0xD0, "xgetbv"},
            {0x0F01, 0xD1, "xsetbv"}, {0x0F01, 0xD5, "xend"},     {0x0F01, 0xD6, "xtest"},
            {0x0F01, 0xF9, "rdtscp"}, {0x0FAE, 0xE8, "lfence"},   {0x0FAE, 0xF0, "mfence"},
            {0x0FAE, 0xF8, "sfence"},
        };
        if (st_.x64 && d_.Opcode == 0x0F01 && m_.byte == 0xF8) {
            entry = Entry{};
            entry.valid = true;
            std::strcpy(entry.mnemonic, "swapgs");
            return true;
        }
        for (const auto& f : forms) {
            if (f.opcode == d_.Opcode && f.modrm == m_.byte) {
                entry = Entry{};
                entry.valid = true;
                std::strcpy(entry.mnemonic, f.name);
                return true;
            }
        }
        return false;
    }

    bool DecodeX87(uint8_t op) {
        DecodeModRm(c_, st_, m_);
        d_.HasModRm = true;
        d_.ModRm = m_.byte;
        if (c_.Failed()) return false;
        Entry e;
        e.valid = true;
        if (m_.mod != 3) {
            const X87Mem& x = kX87Mem[op - 0xD8][m_.reg];
            if (!x.name) return false;
            std::strcpy(e.mnemonic, x.name);
            e.ops[0] = {OpKind::M, x.size, 0};
            e.count = 1;
        } else {
            X87Reg x = X87Register(op, m_.byte);
            if (!x.name) return false;
            std::strcpy(e.mnemonic, x.name);
            x87Shape_ = x.shape;
        }
        entry_ = e;
        return true;
    }

    void ReadImmediate(const Operand& o, int index) {
        switch (o.kind) {
        case OpKind::Imm: {
            int size = SizeOf(o.size, st_);
            immField_[index] = c_.Address();
            imm_[index] = c_.Value(size);
            immSize_[index] = static_cast<uint8_t>(size);
            if (size == 4) {
                d_.HasImm32 = true;
                d_.Imm32 = static_cast<uint32_t>(imm_[index]);
            } else if (size == 8) {
                d_.HasImm64 = true;
                d_.Imm64 = imm_[index];
            }
            break;
        }
        case OpKind::ImmS:
            immField_[index] = c_.Address();
            imm_[index] = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c_.Byte())));
            immSize_[index] = 1;
            break;
        case OpKind::Rel: {
            int size = SizeOf(o.size == detail::kSizeV ? detail::kSizeZ : o.size, st_);
            d_.RelTarget = true;
            d_.PTarget = c_.Address();
            d_.TargetSize = static_cast<uint8_t>(size);
            int32_t disp = size == 1 ? static_cast<int8_t>(c_.Byte())
                         : size == 2 ? static_cast<int16_t>(c_.Value(2))
                                     : static_cast<int32_t>(c_.Value(4));
            relDisp_ = disp;
            const uint64_t next = c_.Address();
            d_.Target = (next + static_cast<uint64_t>(static_cast<int64_t>(disp))) & top_;
            // A 16-bit operand size truncates the instruction pointer.
            if (size == 2) d_.Target &= 0xFFFF;
            relTarget_ = d_.Target;
            break;
        }
        case OpKind::FarPtr:
            farOffset_ = static_cast<uint32_t>(c_.Value(st_.opsize16 ? 2 : 4));
            farSegment_ = static_cast<uint16_t>(c_.Value(2));
            break;
        case OpKind::Moffs:
            d_.MemAddressField = c_.Address();
            d_.MemAddress = c_.Value(st_.addr16 ? 2 : st_.x64 && !st_.addr32 ? 8 : 4);
            d_.MemAbsolute = !st_.addr16;
            break;
        default:
            break;
        }
    }

    // The memory operand is a bare 32-bit address (no base, no index), or in 64-bit mode
    // RIP-relative: its address is known from the instruction alone.
    bool AbsoluteMemory() const {
        return d_.HasModRm && m_.mod != 3 && !st_.addr16 && m_.base < 0 && m_.index < 0 && m_.dispSize == 4;
    }

    // The address of such an operand: the displacement (sign-extended under 64-bit addressing),
    // or for [rip + disp32] the address after the instruction plus the displacement.
    uint64_t AbsoluteAddress() const {
        const uint64_t disp = static_cast<uint64_t>(static_cast<int64_t>(m_.disp));
        uint64_t a = m_.rip ? d_.Next + disp : disp;
        if (!st_.x64 || st_.addr32) a &= UINT32_MAX;
        return a;
    }

    void ResolveTargets() {
        const uint16_t op = d_.Opcode;
        if (AbsoluteMemory() && (entry_.count > 0)) {
            d_.MemAbsolute = true;
            d_.MemAddress = AbsoluteAddress();
            d_.MemAddressField = m_.dispField;
            d_.RipRelative = m_.rip;
        }
        if (d_.RelTarget) {
            d_.Call = op == 0xE8;
            d_.Jmp = !d_.Call;
            d_.Enlargeable = !(op >= 0xE0 && op <= 0xE3);
            return;
        }
        if (op == 0x9A || op == 0xEA) {
            d_.Call = op == 0x9A;
            d_.Jmp = op == 0xEA;
            d_.IsFarTransfer = true;
            return;
        }
        if (op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF) d_.IsReturn = true;
        if (op != 0xFF || m_.reg < 2 || m_.reg > 5) return;
        d_.Call = m_.reg == 2 || m_.reg == 3;
        d_.Jmp = !d_.Call;
        if (m_.reg == 3 || m_.reg == 5) {
            d_.IsFarTransfer = true;
            return;
        }
        // In 64-bit mode es, cs, ss and ds overrides are ignored (flat segments).
        if (AbsoluteMemory() && (st_.segment == 0 || st_.segment == 4 || (st_.x64 && st_.segment <= 4))) {
            const uint32_t cellSize = st_.x64 ? 8 : 4;
            d_.PPTarget = m_.dispField;
            d_.TargetSize = static_cast<uint8_t>(cellSize);
            if (tryRead_) {
                uint64_t cell = 0;
                if (!memory_.Read(AbsoluteAddress(), &cell, cellSize)) {
                    d_.IsValid = false;
                    d_.Call = d_.Jmp = false;
                    d_.PPTarget = 0;
                    d_.TargetSize = 0;
                    return;
                }
                d_.Target = cell;
            }
            return;
        }
        if (!regs_ || st_.opsize16 || st_.x64) return;
        if (m_.mod == 3) {
            if (regs_->value[m_.rm] != 0) {
                d_.Target = regs_->value[m_.rm];
                d_.PPTarget = regs_->source[m_.rm];
                d_.TargetSize = 4;
            }
        } else if (!st_.addr16 && m_.base >= 0 && m_.index < 0 && !m_.hasDisp && regs_->value[m_.base] != 0 &&
                   (st_.segment == 0 || st_.segment == 4)) {
            uint32_t cell = 0;
            if (tryRead_ && memory_.Read(regs_->value[m_.base], &cell, 4)) {
                d_.Target = cell;
                d_.PPTarget = regs_->source[m_.base];
                d_.TargetSize = 4;
            }
        }
    }

    void Forget(int reg) {
        regs_->value[static_cast<size_t>(reg)] = 0;
        regs_->source[static_cast<size_t>(reg)] = 0;
    }

    // The general register written through operand `o`, or -1.
    int WrittenRegister(const Operand& o) const {
        switch (o.kind) {
        case OpKind::G: return (o.size == 1) ? (m_.reg & 3) : m_.reg;
        case OpKind::E:
        case OpKind::R: return m_.mod == 3 ? (o.size == 1 ? (m_.rm & 3) : m_.rm) : -1;
        case OpKind::OpReg: return (o.size == 1) ? ((d_.Opcode & 7) & 3) : (d_.Opcode & 7);
        case OpKind::FixedReg: return o.reg;
        default: return -1;
        }
    }

    void TrackRegisters() {
        const uint16_t op = d_.Opcode;
        if (op >= 0xB8 && op <= 0xBF && !st_.opsize16) {
            regs_->value[op & 7] = static_cast<uint32_t>(imm_[1]);
            regs_->source[op & 7] = static_cast<uint32_t>(immField_[1]);
            return;
        }
        if (op == 0xC7 && m_.mod == 3 && m_.reg == 0 && !st_.opsize16) {  // mov reg, imm32 (long form)
            regs_->value[m_.rm] = static_cast<uint32_t>(imm_[1]);
            regs_->source[m_.rm] = static_cast<uint32_t>(immField_[1]);
            return;
        }
        auto forget = [&](std::initializer_list<int> list) { for (int r : list) Forget(r); };
        if (entry_.count > 0 && !FirstOperandIsRead(entry_.mnemonic)) {
            int r = WrittenRegister(entry_.ops[0]);
            if (r >= 0) Forget(r);
        }
        std::string_view mn = entry_.mnemonic;
        if (mn == "xchg" || mn == "xadd" || mn == "cmpxchg") {
            for (int i = 0; i < entry_.count; ++i) {
                int r = WrittenRegister(entry_.ops[i]);
                if (r >= 0) Forget(r);
            }
            if (mn == "cmpxchg") Forget(0);
        }
        if (d_.Call) forget({0, 1, 2});
        switch (op) {
        case 0x27: case 0x2F: case 0x37: case 0x3F: case 0x98: case 0x9F: case 0xD4: case 0xD5: case 0xD6:
        case 0xD7: case 0xE4: case 0xE5: case 0xEC: case 0xED:
            Forget(0);
            break;
        case 0x99: Forget(2); break;
        case 0x60: case 0x9C: case 0x06: case 0x0E: case 0x16: case 0x1E: case 0x68: case 0x6A: case 0xC8:
        case 0xC2: case 0xC3: case 0x07: case 0x17: case 0x1F: case 0x9D:
            Forget(4);
            break;
        case 0x61: regs_->Clear(); break;
        case 0xC9: forget({4, 5}); break;
        case 0xA4: case 0xA5: case 0xA6: case 0xA7: case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE:
        case 0xAF: case 0x6C: case 0x6D: case 0x6E: case 0x6F:
            forget({0, 1, 6, 7});
            break;
        case 0xE0: case 0xE1: case 0xE2: Forget(1); break;
        case 0xF6: case 0xF7: if (m_.reg >= 4) forget({0, 2}); break;
        case 0x0FA2: forget({0, 1, 2, 3}); break;
        case 0x0F31: case 0x0F32: case 0x0F33: case 0x0F01: case 0x0FC7: forget({0, 1, 2}); break;
        case 0xDF: if (m_.mod == 3) Forget(0); break;  // fnstsw ax
        default: break;
        }
        if ((op >= 0x50 && op <= 0x5F) || op == 0x8F || op == 0xFF) Forget(4);
    }

    // ---- text ----
    std::string RegName(int size, int reg) const {
        if (size == 1) return st_.rex ? kReg8Rex[reg & 15] : kReg8[reg & 7];
        if (size == 2) return kReg16[reg & 15];
        if (size == 8) return kReg64[reg & 15];
        return kReg32[reg & 15];
    }

    static const char* SizeWord(int size) {
        switch (size) {
        case 1: return "byte ptr ";
        case 2: return "word ptr ";
        case 4: return "dword ptr ";
        case 8: return "qword ptr ";
        case 10: return "tbyte ptr ";
        case 16: return "oword ptr ";
        case 32: return "yword ptr ";
        case 64: return "zword ptr ";
        default: return "";
        }
    }

    std::string MemoryText(int size, bool sizeWord) const {
        std::string s = sizeWord ? SizeWord(size) : "";
        if (st_.segment) s += std::string(kSeg[st_.segment - 1]) + ":";
        s += "[";
        bool any = false;
        const char* const* names = st_.x64 && !st_.addr32 ? kReg64 : kReg32;
        if (st_.addr16) {
            if (m_.base16) { s += m_.base16; any = true; }
        } else if (m_.rip) {
            s += st_.addr32 ? "eip" : "rip";
            any = true;
        } else {
            if (m_.base >= 0) { s += names[m_.base]; any = true; }
            if (m_.index >= 0) {
                if (any) s += "+";
                s += names[m_.index];
                if (m_.scale > 1) s += "*" + std::to_string(m_.scale);
                any = true;
            }
        }
        if (m_.hasDisp) {
            if (!any) {
                if (st_.x64) {
                    s += FormatUnsigned(AbsoluteAddress());
                } else {
                    uint32_t v = static_cast<uint32_t>(m_.disp);
                    if (st_.addr16) v &= 0xFFFF;
                    s += FormatNumber(v);
                }
            } else {
                s += FormatNumber(m_.disp, true);
                // EVEX scales an 8-bit displacement by the operand's size (disp8*N).
                if (d_.Vex == 0x62 && m_.dispSize == 1) s += "*N";
            }
        } else if (!any) {
            s += "0";
        }
        s += "]";
        // A RIP-relative operand is shown like a relative target: displacement and address.
        if (m_.rip) s += " (" + FormatAddress64(AbsoluteAddress()) + ")";
        return s;
    }

    int RegisterOperandSize(const Operand& o) const {
        switch (o.kind) {
        case OpKind::G: case OpKind::R: case OpKind::OpReg: case OpKind::FixedReg:
            return SizeOf(o.size, st_);
        case OpKind::E: case OpKind::Q: case OpKind::W:
            return m_.mod == 3 ? (o.kind == OpKind::E ? SizeOf(o.size, st_) : o.kind == OpKind::Q ? 8 : 16) : 0;
        case OpKind::P: case OpKind::N: return 8;
        case OpKind::V: case OpKind::U: case OpKind::FixedXmm: return 16;
        case OpKind::S: case OpKind::FixedSeg: return 2;
        default: return 0;
        }
    }

    void BuildText() {
        InstructionText& t = *text_;
        t = InstructionText{};
        if (st_.lock) t.prefixes += "lock ";
        if (st_.rep && !repConsumed_) t.prefixes += st_.rep == 0xF2 ? "repne " : "rep ";
        t.mnemonic = entry_.mnemonic;
        if (d_.Vex) {
            t.mnemonic = vex_.name;
            t.operands = VexOperands();
            return;
        }
        if (st_.opsize64 && !twoByte_) {
            // 64-bit forms of the implicit-operand instructions (stack ones are 64-bit by default).
            static const struct { const char* from; const char* to; } renames[] = {
                {"cwde", "cdqe"}, {"cdq", "cqo"}, {"pushfd", "pushfq"}, {"popfd", "popfq"}, {"iretd", "iretq"},
                {"movsd", "movsq"}, {"cmpsd", "cmpsq"}, {"stosd", "stosq"}, {"lodsd", "lodsq"}, {"scasd", "scasq"},
            };
            for (const auto& r : renames)
                if (t.mnemonic == r.from) t.mnemonic = r.to;
        }
        if (st_.opsize16 && !st_.opsize64 && !twoByte_) {
            // Operand-size forms of the implicit-operand instructions.
            static const struct { const char* from; const char* to; } renames[] = {
                {"cwde", "cbw"}, {"cdq", "cwd"}, {"pushad", "pusha"}, {"popad", "popa"}, {"pushfd", "pushf"},
                {"popfd", "popf"}, {"iretd", "iret"}, {"movsd", "movsw"}, {"cmpsd", "cmpsw"}, {"stosd", "stosw"},
                {"lodsd", "lodsw"}, {"scasd", "scasw"}, {"insd", "insw"}, {"outsd", "outsw"},
            };
            for (const auto& r : renames)
                if (t.mnemonic == r.from) t.mnemonic = r.to;
        }
        if (st_.addr16 && d_.Opcode == 0xE3) t.mnemonic = "jcxz";
        if (st_.x64 && !st_.addr32 && d_.Opcode == 0xE3) t.mnemonic = "jrcxz";
        if (st_.x64 && (st_.rex & 8) && (d_.Opcode == 0x0F05 || d_.Opcode == 0x0F07)) t.mnemonic += "q";
        if (d_.Opcode == 0x90 && st_.rep == 0xF3) {
            t.mnemonic = "pause";
            t.prefixes = st_.lock ? "lock " : "";
        }
        if (x87Shape_) {
            std::string sti = "st(" + std::to_string(m_.rm) + ")";
            switch (x87Shape_) {
            case 1: t.operands = {sti}; break;
            case 2: t.operands = {"st(0)", sti}; break;
            case 3: t.operands = {sti, "st(0)"}; break;
            case 4: t.operands = {"ax"}; break;
            default: break;
            }
            return;
        }
        // Is the memory operand's size given by a register operand of the same size?
        int memSize = 0;
        bool sizeFromRegister = false;
        for (int i = 0; i < entry_.count; ++i) {
            const Operand& o = entry_.ops[i];
            bool mem = (o.kind == OpKind::E || o.kind == OpKind::M || o.kind == OpKind::Q || o.kind == OpKind::W) &&
                       m_.mod != 3;
            if (mem) memSize = o.kind == OpKind::Q && o.size == 0 ? 8 : SizeOf(o.size, st_);
            if (o.kind == OpKind::Moffs) memSize = SizeOf(o.size, st_);
        }
        for (int i = 0; i < entry_.count; ++i)
            if (RegisterOperandSize(entry_.ops[i]) == memSize) sizeFromRegister = true;
        const bool sizeWord = memSize && !sizeFromRegister;

        for (int i = 0; i < entry_.count; ++i) {
            const Operand& o = entry_.ops[i];
            const int size = SizeOf(o.size, st_);
            std::string s;
            switch (o.kind) {
            case OpKind::E:
                s = m_.mod == 3 ? RegName(size, m_.rmX) : MemoryText(size, sizeWord);
                break;
            case OpKind::M: s = MemoryText(size, sizeWord); break;
            case OpKind::G: s = RegName(size, m_.regX); break;
            case OpKind::R: s = RegName(size, m_.rmX); break;
            case OpKind::C: s = "cr" + std::to_string(m_.regX); break;
            case OpKind::D: s = "dr" + std::to_string(m_.regX); break;
            case OpKind::S: s = kSeg[m_.reg]; break;
            case OpKind::Imm:
                if (immSize_[i] == 4 && st_.opsize64 && o.size == detail::kSizeZ)
                    s = FormatUnsigned(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(imm_[i]))));
                else
                    s = FormatUnsigned(immSize_[i] == 1 ? (imm_[i] & 0xFF) : immSize_[i] == 2 ? (imm_[i] & 0xFFFF)
                                     : immSize_[i] == 4 ? (imm_[i] & 0xFFFFFFFF) : imm_[i]);
                break;
            case OpKind::ImmS: s = FormatNumber(static_cast<int32_t>(imm_[i]), true); break;
            case OpKind::Rel:
                s = FormatNumber(relDisp_, true) + " (" +
                    (st_.x64 ? FormatAddress64(relTarget_) : FormatAddress(static_cast<uint32_t>(relTarget_))) + ")";
                t.relOperand = i;
                break;
            case OpKind::FarPtr: s = FormatNumber(farSegment_) + ":" + FormatNumber(farOffset_); break;
            case OpKind::Moffs: {
                s = sizeWord ? SizeWord(size) : "";
                if (st_.segment) s += std::string(kSeg[st_.segment - 1]) + ":";
                s += "[" + FormatUnsigned(d_.MemAddress) + "]";
                break;
            }
            case OpKind::P: s = "mm" + std::to_string(m_.reg); break;
            case OpKind::N: s = "mm" + std::to_string(m_.rm); break;
            case OpKind::Q: s = m_.mod == 3 ? "mm" + std::to_string(m_.rm) : MemoryText(size ? size : 8, sizeWord); break;
            case OpKind::V: s = "xmm" + std::to_string(m_.regX); break;
            case OpKind::U: s = "xmm" + std::to_string(m_.rmX); break;
            case OpKind::W: s = m_.mod == 3 ? "xmm" + std::to_string(m_.rmX) : MemoryText(size, sizeWord); break;
            case OpKind::FixedReg: s = RegName(size, o.reg); break;
            case OpKind::FixedSeg: s = kSeg[o.reg]; break;
            case OpKind::FixedXmm: s = "xmm0"; break;
            case OpKind::One: s = "1"; break;
            case OpKind::OpReg: s = RegName(size, (d_.Opcode & 7) | ((st_.rex & 1) << 3)); break;
            case OpKind::None: break;
            }
            t.operands.push_back(std::move(s));
        }
    }

    const MemoryReader& memory_;
    RegisterState* regs_;
    InstructionText* text_;
    bool tryRead_;
    uint64_t top_;  // highest address of the mode
    Cursor c_;
    DecodedInstruction d_;
    State st_;
    ModRm m_;
    Entry entry_;
    bool twoByte_ = false;
    bool repConsumed_ = false;
    uint8_t x87Shape_ = 0;
    uint64_t imm_[3] = {};
    uint64_t immField_[3] = {};
    uint8_t immSize_[3] = {};
    int32_t relDisp_ = 0;
    uint64_t relTarget_ = 0;
    struct VexInfo {
        std::string name;
        bool hasModRm = false, hasImm8 = false;
        uint8_t imm = 0;
        int length = 0;         // L'L: 0 xmm, 1 ymm, 2 zmm
        bool r2 = false, x2 = false;  // EVEX R' and X (registers 16..31)
    } vex_;
    uint32_t farOffset_ = 0;
    uint16_t farSegment_ = 0;
};

}  // namespace

DecodedInstruction ParseCode(const MemoryReader& memory, uint64_t address, bool tryRead, CpuMode mode) {
    return Decoder(memory, address, nullptr, nullptr, tryRead, mode).Run();
}

DecodedInstruction ParseCode(const MemoryReader& memory, uint64_t address, RegisterState& regs, bool tryRead,
                             CpuMode mode) {
    return Decoder(memory, address, &regs, nullptr, tryRead, mode).Run();
}

DecodedInstruction ParseCode(const MemoryReader& memory, uint64_t address, RegisterState* regs,
                             InstructionText& text, bool tryRead, CpuMode mode) {
    return Decoder(memory, address, regs, &text, tryRead, mode).Run();
}

}  // namespace tidewell::disasm
