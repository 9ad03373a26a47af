// Compiled opcode tables (internal to the decoder).
#pragma once

#include <array>
#include <cstdint>

namespace tidewell::disasm::detail {

enum class OpKind : uint8_t {
    None, E, G, M, R, C, D, S, Imm, ImmS, Rel, FarPtr, Moffs, P, Q, N, V, W, U,
    FixedReg, FixedSeg, FixedXmm, One, OpReg,
};

// Size codes beyond plain byte counts.
constexpr uint8_t kSizeV = 0xF0;  // operand size (4, or 2 under 0x66)
constexpr uint8_t kSizeZ = 0xF1;  // immediate of operand size
constexpr uint8_t kSizeP = 0xF2;  // far pointer: operand size + 2

struct Operand {
    OpKind kind = OpKind::None;
    uint8_t size = 0;
    uint8_t reg = 0;
};

struct Entry {
    char mnemonic[16] = {};
    Operand ops[3];
    uint8_t count = 0;
    bool modrm = false;
    bool valid = false;
};

enum class Special : uint8_t { None, X87, ThreeDNow, Map0F38, Map0F3A };

struct Slot {
    Entry entry;             // plain entry; for groups only the default operands
    int8_t group = -1;       // index into Tables::groups
    bool variants = false;   // entry chosen by the 66/F3/F2 prefix
    bool splitRegForm = false;  // movlps/movhps: register form is movhlps/movlhps
    Special special = Special::None;
    uint16_t variantIndex = 0;
    uint16_t variantBase(int v) const { return static_cast<uint16_t>(variantIndex + v); }
};

struct Group {
    Entry mem[8];
    Entry reg[8];
    bool regSpecial[8] = {};  // register forms decided by the whole ModR/M byte
};

struct Tables {
    Slot oneByte[256];
    Slot twoByte[256];
    Slot map0F38[256];
    Slot map0F3A[256];
    Group groups[24];
    Entry variants[1024];  // [variantIndex + 0..3]: no prefix, 66, F3, F2
    const char* threeDNow[256] = {};
    struct { int8_t g7 = -1, g15 = -1; } groupIds;
};

const Tables& GetTables();

}  // namespace tidewell::disasm::detail
