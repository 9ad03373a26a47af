// Opcode tables of the 32-bit x86 instruction set (one-byte map, 0x0F map, groups, x87,
// MMX, SSE, SSE2, SSE3, 3DNow! and the common SSSE3/SSE4 three-byte opcodes).
//
// The maps are written as readable text ("mnemonic operand,operand") and compiled once into
// the compact entries of OpcodeTables.h. Operand notation (after the Intel opcode map):
//   E  ModR/M r/m (register or memory)     G  ModR/M reg (general register)
//   M  r/m, memory only                   R  r/m, general register only
//   C/D control/debug register (reg)      S  segment register (reg)
//   I  immediate, Is sign-extended imm8   J  relative target
//   A  far pointer seg:offset             O  memory offset (moffs)
//   P/Q/N  MMX reg / MMX reg-or-mem / MMX reg from r/m
//   V/W/U  XMM reg / XMM reg-or-mem / XMM reg from r/m
//   Z  general register from the low three opcode bits
//   size letters: b w d q t x (1 2 4 8 10 16 bytes), v operand size, z immediate of operand
//   size, p far pointer, s no size.  Fixed registers are written by name ("al", "eAX", "dx").
//   "#name" refers to a group, "~a|b|c|d" lists the variants without prefix, with 66, F3, F2.
#include "crash/analysis/disasm/OpcodeTables.h"

#include <cstring>
#include <mutex>
#include <string_view>

namespace tidewell::disasm::detail {
namespace {

const char* const kOneByte[256] = {
    // 00
    "add Eb,Gb", "add Ev,Gv", "add Gb,Eb", "add Gv,Ev", "add al,Ib", "add eAX,Iz", "push es", "pop es",
    "or Eb,Gb", "or Ev,Gv", "or Gb,Eb", "or Gv,Ev", "or al,Ib", "or eAX,Iz", "push cs", "",
    // 10
    "adc Eb,Gb", "adc Ev,Gv", "adc Gb,Eb", "adc Gv,Ev", "adc al,Ib", "adc eAX,Iz", "push ss", "pop ss",
    "sbb Eb,Gb", "sbb Ev,Gv", "sbb Gb,Eb", "sbb Gv,Ev", "sbb al,Ib", "sbb eAX,Iz", "push ds", "pop ds",
    // 20
    "and Eb,Gb", "and Ev,Gv", "and Gb,Eb", "and Gv,Ev", "and al,Ib", "and eAX,Iz", "", "daa",
    "sub Eb,Gb", "sub Ev,Gv", "sub Gb,Eb", "sub Gv,Ev", "sub al,Ib", "sub eAX,Iz", "", "das",
    // 30
    "xor Eb,Gb", "xor Ev,Gv", "xor Gb,Eb", "xor Gv,Ev", "xor al,Ib", "xor eAX,Iz", "", "aaa",
    "cmp Eb,Gb", "cmp Ev,Gv", "cmp Gb,Eb", "cmp Gv,Ev", "cmp al,Ib", "cmp eAX,Iz", "", "aas",
    // 40
    "inc Zv", "inc Zv", "inc Zv", "inc Zv", "inc Zv", "inc Zv", "inc Zv", "inc Zv",
    "dec Zv", "dec Zv", "dec Zv", "dec Zv", "dec Zv", "dec Zv", "dec Zv", "dec Zv",
    // 50
    "push Zv", "push Zv", "push Zv", "push Zv", "push Zv", "push Zv", "push Zv", "push Zv",
    "pop Zv", "pop Zv", "pop Zv", "pop Zv", "pop Zv", "pop Zv", "pop Zv", "pop Zv",
    // 60
    "pushad", "popad", "bound Gv,Ms", "arpl Ew,Gw", "", "", "", "",
    "push Iz", "imul Gv,Ev,Iz", "push Is", "imul Gv,Ev,Is", "insb", "insd", "outsb", "outsd",
    // 70
    "jo Jb", "jno Jb", "jb Jb", "jnb Jb", "jz Jb", "jnz Jb", "jbe Jb", "ja Jb",
    "js Jb", "jns Jb", "jp Jb", "jnp Jb", "jl Jb", "jge Jb", "jle Jb", "jg Jb",
    // 80
    "#g1 Eb,Ib", "#g1 Ev,Iz", "#g1 Eb,Ib", "#g1 Ev,Is", "test Eb,Gb", "test Ev,Gv", "xchg Eb,Gb", "xchg Ev,Gv",
    "mov Eb,Gb", "mov Ev,Gv", "mov Gb,Eb", "mov Gv,Ev", "mov Ev,Sw", "lea Gv,Ms", "mov Sw,Ew", "#g1a Ev",
    // 90
    "nop", "xchg eAX,Zv", "xchg eAX,Zv", "xchg eAX,Zv", "xchg eAX,Zv", "xchg eAX,Zv", "xchg eAX,Zv", "xchg eAX,Zv",
    "cwde", "cdq", "call Ap", "wait", "pushfd", "popfd", "sahf", "lahf",
    // A0
    "mov al,Ob", "mov eAX,Ov", "mov Ob,al", "mov Ov,eAX", "movsb", "movsd", "cmpsb", "cmpsd",
    "test al,Ib", "test eAX,Iz", "stosb", "stosd", "lodsb", "lodsd", "scasb", "scasd",
    // B0
    "mov Zb,Ib", "mov Zb,Ib", "mov Zb,Ib", "mov Zb,Ib", "mov Zb,Ib", "mov Zb,Ib", "mov Zb,Ib", "mov Zb,Ib",
    "mov Zv,Iv", "mov Zv,Iv", "mov Zv,Iv", "mov Zv,Iv", "mov Zv,Iv", "mov Zv,Iv", "mov Zv,Iv", "mov Zv,Iv",
    // C0
    "#g2 Eb,Ib", "#g2 Ev,Ib", "ret Iw", "ret", "les Gv,Mp", "lds Gv,Mp", "#g11 Eb,Ib", "#g11 Ev,Iz",
    "enter Iw,Ib", "leave", "retf Iw", "retf", "int3", "int Ib", "into", "iretd",
    // D0
    "#g2 Eb,1", "#g2 Ev,1", "#g2 Eb,cl", "#g2 Ev,cl", "aam Ib", "aad Ib", "salc", "xlatb",
    "@x87", "@x87", "@x87", "@x87", "@x87", "@x87", "@x87", "@x87",
    // E0
    "loopne Jb", "loope Jb", "loop Jb", "jecxz Jb", "in al,Ib", "in eAX,Ib", "out Ib,al", "out Ib,eAX",
    "call Jz", "jmp Jz", "jmp Ap", "jmp Jb", "in al,dx", "in eAX,dx", "out dx,al", "out dx,eAX",
    // F0
    "", "int1", "", "", "hlt", "cmc", "#g3b", "#g3v",
    "clc", "stc", "cli", "sti", "cld", "std", "#g4", "#g5",
};

const char* const kTwoByte[256] = {
    // 0F 00
    "#g6", "#g7", "lar Gv,Ew", "lsl Gv,Ew", "", "syscall", "clts", "sysret",
    "invd", "wbinvd", "", "ud2", "", "#gp", "femms", "@3dnow",
    // 0F 10
    "~movups Vx,Wx|movupd Vx,Wx|movss Vx,Wd|movsd Vx,Wq",
    "~movups Wx,Vx|movupd Wx,Vx|movss Wd,Vx|movsd Wq,Vx",
    "~@movlps|movlpd Vx,Mq|movsldup Vx,Wx|movddup Vx,Wq",
    "~movlps Mq,Vx|movlpd Mq,Vx||",
    "~unpcklps Vx,Wx|unpcklpd Vx,Wx||",
    "~unpckhps Vx,Wx|unpckhpd Vx,Wx||",
    "~@movhps|movhpd Vx,Mq|movshdup Vx,Wx|",
    "~movhps Mq,Vx|movhpd Mq,Vx||",
    "#g16", "nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev",
    // 0F 20
    "mov Rd,Cd", "mov Rd,Dd", "mov Cd,Rd", "mov Dd,Rd", "", "", "", "",
    "~movaps Vx,Wx|movapd Vx,Wx||",
    "~movaps Wx,Vx|movapd Wx,Vx||",
    "~cvtpi2ps Vx,Qq|cvtpi2pd Vx,Qq|cvtsi2ss Vx,Ed|cvtsi2sd Vx,Ed",
    "~movntps Mx,Vx|movntpd Mx,Vx||",
    "~cvttps2pi Pq,Wq|cvttpd2pi Pq,Wx|cvttss2si Gd,Wd|cvttsd2si Gd,Wq",
    "~cvtps2pi Pq,Wq|cvtpd2pi Pq,Wx|cvtss2si Gd,Wd|cvtsd2si Gd,Wq",
    "~ucomiss Vx,Wd|ucomisd Vx,Wq||",
    "~comiss Vx,Wd|comisd Vx,Wq||",
    // 0F 30
    "wrmsr", "rdtsc", "rdmsr", "rdpmc", "sysenter", "sysexit", "", "getsec",
    "@0f38", "", "@0f3a", "", "", "", "", "",
    // 0F 40
    "cmovo Gv,Ev", "cmovno Gv,Ev", "cmovb Gv,Ev", "cmovnb Gv,Ev", "cmovz Gv,Ev", "cmovnz Gv,Ev", "cmovbe Gv,Ev", "cmova Gv,Ev",
    "cmovs Gv,Ev", "cmovns Gv,Ev", "cmovp Gv,Ev", "cmovnp Gv,Ev", "cmovl Gv,Ev", "cmovge Gv,Ev", "cmovle Gv,Ev", "cmovg Gv,Ev",
    // 0F 50
    "~movmskps Gd,Ux|movmskpd Gd,Ux||",
    "~sqrtps Vx,Wx|sqrtpd Vx,Wx|sqrtss Vx,Wd|sqrtsd Vx,Wq",
    "~rsqrtps Vx,Wx||rsqrtss Vx,Wd|",
    "~rcpps Vx,Wx||rcpss Vx,Wd|",
    "~andps Vx,Wx|andpd Vx,Wx||",
    "~andnps Vx,Wx|andnpd Vx,Wx||",
    "~orps Vx,Wx|orpd Vx,Wx||",
    "~xorps Vx,Wx|xorpd Vx,Wx||",
    "~addps Vx,Wx|addpd Vx,Wx|addss Vx,Wd|addsd Vx,Wq",
    "~mulps Vx,Wx|mulpd Vx,Wx|mulss Vx,Wd|mulsd Vx,Wq",
    "~cvtps2pd Vx,Wq|cvtpd2ps Vx,Wx|cvtss2sd Vx,Wd|cvtsd2ss Vx,Wq",
    "~cvtdq2ps Vx,Wx|cvtps2dq Vx,Wx|cvttps2dq Vx,Wx|",
    "~subps Vx,Wx|subpd Vx,Wx|subss Vx,Wd|subsd Vx,Wq",
    "~minps Vx,Wx|minpd Vx,Wx|minss Vx,Wd|minsd Vx,Wq",
    "~divps Vx,Wx|divpd Vx,Wx|divss Vx,Wd|divsd Vx,Wq",
    "~maxps Vx,Wx|maxpd Vx,Wx|maxss Vx,Wd|maxsd Vx,Wq",
    // 0F 60
    "~punpcklbw Pq,Qd|punpcklbw Vx,Wx||", "~punpcklwd Pq,Qd|punpcklwd Vx,Wx||",
    "~punpckldq Pq,Qd|punpckldq Vx,Wx||", "~packsswb Pq,Qq|packsswb Vx,Wx||",
    "~pcmpgtb Pq,Qq|pcmpgtb Vx,Wx||", "~pcmpgtw Pq,Qq|pcmpgtw Vx,Wx||",
    "~pcmpgtd Pq,Qq|pcmpgtd Vx,Wx||", "~packuswb Pq,Qq|packuswb Vx,Wx||",
    "~punpckhbw Pq,Qq|punpckhbw Vx,Wx||", "~punpckhwd Pq,Qq|punpckhwd Vx,Wx||",
    "~punpckhdq Pq,Qq|punpckhdq Vx,Wx||", "~packssdw Pq,Qq|packssdw Vx,Wx||",
    "~|punpcklqdq Vx,Wx||", "~|punpckhqdq Vx,Wx||",
    "~movd Pq,Ed|movd Vx,Ed||", "~movq Pq,Qq|movdqa Vx,Wx|movdqu Vx,Wx|",
    // 0F 70
    "~pshufw Pq,Qq,Ib|pshufd Vx,Wx,Ib|pshufhw Vx,Wx,Ib|pshuflw Vx,Wx,Ib",
    "#g12", "#g13", "#g14",
    "~pcmpeqb Pq,Qq|pcmpeqb Vx,Wx||", "~pcmpeqw Pq,Qq|pcmpeqw Vx,Wx||",
    "~pcmpeqd Pq,Qq|pcmpeqd Vx,Wx||", "~emms|||",
    "vmread Ed,Gd", "vmwrite Gd,Ed", "", "",
    "~|haddpd Vx,Wx||haddps Vx,Wx", "~|hsubpd Vx,Wx||hsubps Vx,Wx",
    "~movd Ed,Pq|movd Ed,Vx|movq Vx,Wq|", "~movq Qq,Pq|movdqa Wx,Vx|movdqu Wx,Vx|",
    // 0F 80
    "jo Jz", "jno Jz", "jb Jz", "jnb Jz", "jz Jz", "jnz Jz", "jbe Jz", "ja Jz",
    "js Jz", "jns Jz", "jp Jz", "jnp Jz", "jl Jz", "jge Jz", "jle Jz", "jg Jz",
    // 0F 90
    "seto Eb", "setno Eb", "setb Eb", "setnb Eb", "setz Eb", "setnz Eb", "setbe Eb", "seta Eb",
    "sets Eb", "setns Eb", "setp Eb", "setnp Eb", "setl Eb", "setge Eb", "setle Eb", "setg Eb",
    // 0F A0
    "push fs", "pop fs", "cpuid", "bt Ev,Gv", "shld Ev,Gv,Ib", "shld Ev,Gv,cl", "", "",
    "push gs", "pop gs", "rsm", "bts Ev,Gv", "shrd Ev,Gv,Ib", "shrd Ev,Gv,cl", "#g15", "imul Gv,Ev",
    // 0F B0
    "cmpxchg Eb,Gb", "cmpxchg Ev,Gv", "lss Gv,Mp", "btr Ev,Gv", "lfs Gv,Mp", "lgs Gv,Mp", "movzx Gv,Eb", "movzx Gv,Ew",
    "~||popcnt Gv,Ev|", "ud1 Gv,Ev", "#g8 Ev,Ib", "btc Ev,Gv",
    "~bsf Gv,Ev||tzcnt Gv,Ev|", "~bsr Gv,Ev||lzcnt Gv,Ev|", "movsx Gv,Eb", "movsx Gv,Ew",
    // 0F C0
    "xadd Eb,Gb", "xadd Ev,Gv",
    "~cmpps Vx,Wx,Ib|cmppd Vx,Wx,Ib|cmpss Vx,Wd,Ib|cmpsd Vx,Wq,Ib",
    "~movnti Md,Gd|||",
    "~pinsrw Pq,Ew,Ib|pinsrw Vx,Ew,Ib||", "~pextrw Gd,Nq,Ib|pextrw Gd,Ux,Ib||",
    "~shufps Vx,Wx,Ib|shufpd Vx,Wx,Ib||", "#g9",
    "bswap Zv", "bswap Zv", "bswap Zv", "bswap Zv", "bswap Zv", "bswap Zv", "bswap Zv", "bswap Zv",
    // 0F D0
    "~|addsubpd Vx,Wx||addsubps Vx,Wx", "~psrlw Pq,Qq|psrlw Vx,Wx||",
    "~psrld Pq,Qq|psrld Vx,Wx||", "~psrlq Pq,Qq|psrlq Vx,Wx||",
    "~paddq Pq,Qq|paddq Vx,Wx||", "~pmullw Pq,Qq|pmullw Vx,Wx||",
    "~|movq Wq,Vx|movq2dq Vx,Nq|movdq2q Pq,Ux", "~pmovmskb Gd,Nq|pmovmskb Gd,Ux||",
    "~psubusb Pq,Qq|psubusb Vx,Wx||", "~psubusw Pq,Qq|psubusw Vx,Wx||",
    "~pminub Pq,Qq|pminub Vx,Wx||", "~pand Pq,Qq|pand Vx,Wx||",
    "~paddusb Pq,Qq|paddusb Vx,Wx||", "~paddusw Pq,Qq|paddusw Vx,Wx||",
    "~pmaxub Pq,Qq|pmaxub Vx,Wx||", "~pandn Pq,Qq|pandn Vx,Wx||",
    // 0F E0
    "~pavgb Pq,Qq|pavgb Vx,Wx||", "~psraw Pq,Qq|psraw Vx,Wx||",
    "~psrad Pq,Qq|psrad Vx,Wx||", "~pavgw Pq,Qq|pavgw Vx,Wx||",
    "~pmulhuw Pq,Qq|pmulhuw Vx,Wx||", "~pmulhw Pq,Qq|pmulhw Vx,Wx||",
    "~|cvttpd2dq Vx,Wx|cvtdq2pd Vx,Wq|cvtpd2dq Vx,Wx", "~movntq Mq,Pq|movntdq Mx,Vx||",
    "~psubsb Pq,Qq|psubsb Vx,Wx||", "~psubsw Pq,Qq|psubsw Vx,Wx||",
    "~pminsw Pq,Qq|pminsw Vx,Wx||", "~por Pq,Qq|por Vx,Wx||",
    "~paddsb Pq,Qq|paddsb Vx,Wx||", "~paddsw Pq,Qq|paddsw Vx,Wx||",
    "~pmaxsw Pq,Qq|pmaxsw Vx,Wx||", "~pxor Pq,Qq|pxor Vx,Wx||",
    // 0F F0
    "~|||lddqu Vx,Mx", "~psllw Pq,Qq|psllw Vx,Wx||",
    "~pslld Pq,Qq|pslld Vx,Wx||", "~psllq Pq,Qq|psllq Vx,Wx||",
    "~pmuludq Pq,Qq|pmuludq Vx,Wx||", "~pmaddwd Pq,Qq|pmaddwd Vx,Wx||",
    "~psadbw Pq,Qq|psadbw Vx,Wx||", "~maskmovq Pq,Nq|maskmovdqu Vx,Ux||",
    "~psubb Pq,Qq|psubb Vx,Wx||", "~psubw Pq,Qq|psubw Vx,Wx||",
    "~psubd Pq,Qq|psubd Vx,Wx||", "~psubq Pq,Qq|psubq Vx,Wx||",
    "~paddb Pq,Qq|paddb Vx,Wx||", "~paddw Pq,Qq|paddw Vx,Wx||",
    "~paddd Pq,Qq|paddd Vx,Wx||", "",
};

struct GroupText {
    const char* name;
    const char* mem[8];
    const char* reg[8];  // "=" repeats the memory form
};

const GroupText kGroups[] = {
    {"g1", {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"}, {"=", "=", "=", "=", "=", "=", "=", "="}},
    {"g1a", {"pop", "", "", "", "", "", "", ""}, {"=", "", "", "", "", "", "", ""}},
    {"g2", {"rol", "ror", "rcl", "rcr", "shl", "shr", "sal", "sar"}, {"=", "=", "=", "=", "=", "=", "=", "="}},
    {"g3b", {"test Eb,Ib", "test Eb,Ib", "not Eb", "neg Eb", "mul Eb", "imul Eb", "div Eb", "idiv Eb"},
     {"=", "=", "=", "=", "=", "=", "=", "="}},
    {"g3v", {"test Ev,Iz", "test Ev,Iz", "not Ev", "neg Ev", "mul Ev", "imul Ev", "div Ev", "idiv Ev"},
     {"=", "=", "=", "=", "=", "=", "=", "="}},
    {"g4", {"inc Eb", "dec Eb", "", "", "", "", "", ""}, {"=", "=", "", "", "", "", "", ""}},
    {"g5", {"inc Ev", "dec Ev", "call Ev", "call Mp", "jmp Ev", "jmp Mp", "push Ev", ""},
     {"=", "=", "=", "", "=", "", "=", ""}},
    {"g11", {"mov", "", "", "", "", "", "", ""}, {"=", "", "", "", "", "", "", ""}},
    {"g6", {"sldt Ew", "str Ew", "lldt Ew", "ltr Ew", "verr Ew", "verw Ew", "", ""},
     {"sldt Ev", "str Ev", "=", "=", "=", "=", "", ""}},
    {"g7", {"sgdt Ms", "sidt Ms", "lgdt Ms", "lidt Ms", "smsw Ew", "", "lmsw Ew", "invlpg Mb"},
     {"@", "@", "@", "@", "smsw Ev", "", "lmsw Ew", "@"}},
    {"g8", {"", "", "", "", "bt", "bts", "btr", "btc"}, {"", "", "", "", "=", "=", "=", "="}},
    {"g9", {"", "cmpxchg8b Mq", "", "", "", "", "vmptrld Mq", "vmptrst Mq"},
     {"", "", "", "", "", "", "rdrand Rv", "rdseed Rv"}},
    {"g12", {"", "", "", "", "", "", "", ""}, {"", "", "psrlw Nq,Ib", "", "psraw Nq,Ib", "", "psllw Nq,Ib", ""}},
    {"g13", {"", "", "", "", "", "", "", ""}, {"", "", "psrld Nq,Ib", "", "psrad Nq,Ib", "", "pslld Nq,Ib", ""}},
    {"g14", {"", "", "", "", "", "", "", ""},
     {"", "", "psrlq Nq,Ib", "psrldq Ux,Ib", "", "", "psllq Nq,Ib", "pslldq Ux,Ib"}},
    {"g15", {"fxsave Ms", "fxrstor Ms", "ldmxcsr Md", "stmxcsr Md", "xsave Ms", "xrstor Ms", "xsaveopt Ms", "clflush Mb"},
     {"", "", "", "", "", "@", "@", "@"}},
    {"g16", {"prefetchnta Mb", "prefetcht0 Mb", "prefetcht1 Mb", "prefetcht2 Mb", "nop Ev", "nop Ev", "nop Ev", "nop Ev"},
     {"nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev", "nop Ev"}},
    {"gp", {"prefetch Mb", "prefetchw Mb", "prefetch Mb", "prefetch Mb", "prefetch Mb", "prefetch Mb", "prefetch Mb", "prefetch Mb"},
     {"", "", "", "", "", "", "", ""}},
};

// 3DNow! instructions: the opcode is the immediate byte that follows the operands.
struct Suffix { uint8_t code; const char* name; };
const Suffix k3DNow[] = {
    {0x0C, "pi2fw"}, {0x0D, "pi2fd"}, {0x1C, "pf2iw"}, {0x1D, "pf2id"}, {0x8A, "pfnacc"}, {0x8E, "pfpnacc"},
    {0x90, "pfcmpge"}, {0x94, "pfmin"}, {0x96, "pfrcp"}, {0x97, "pfrsqrt"}, {0x9A, "pfsub"}, {0x9E, "pfadd"},
    {0xA0, "pfcmpgt"}, {0xA4, "pfmax"}, {0xA6, "pfrcpit1"}, {0xA7, "pfrsqit1"}, {0xAA, "pfsubr"}, {0xAE, "pfacc"},
    {0xB0, "pfcmpeq"}, {0xB4, "pfmul"}, {0xB6, "pfrcpit2"}, {0xB7, "pmulhrw"}, {0xBB, "pswapd"}, {0xBF, "pavgusb"},
};

// Three-byte maps 0F 38 and 0F 3A (SSSE3, SSE4.1/4.2, AES, CLMUL; MOVBE and CRC32).
struct ThreeByte { uint8_t code; const char* text; };
const ThreeByte k0F38[] = {
    {0x00, "~pshufb Pq,Qq|pshufb Vx,Wx||"}, {0x01, "~phaddw Pq,Qq|phaddw Vx,Wx||"},
    {0x02, "~phaddd Pq,Qq|phaddd Vx,Wx||"}, {0x03, "~phaddsw Pq,Qq|phaddsw Vx,Wx||"},
    {0x04, "~pmaddubsw Pq,Qq|pmaddubsw Vx,Wx||"}, {0x05, "~phsubw Pq,Qq|phsubw Vx,Wx||"},
    {0x06, "~phsubd Pq,Qq|phsubd Vx,Wx||"}, {0x07, "~phsubsw Pq,Qq|phsubsw Vx,Wx||"},
    {0x08, "~psignb Pq,Qq|psignb Vx,Wx||"}, {0x09, "~psignw Pq,Qq|psignw Vx,Wx||"},
    {0x0A, "~psignd Pq,Qq|psignd Vx,Wx||"}, {0x0B, "~pmulhrsw Pq,Qq|pmulhrsw Vx,Wx||"},
    {0x10, "~|pblendvb Vx,Wx,xmm0||"}, {0x14, "~|blendvps Vx,Wx,xmm0||"}, {0x15, "~|blendvpd Vx,Wx,xmm0||"},
    {0x17, "~|ptest Vx,Wx||"},
    {0x1C, "~pabsb Pq,Qq|pabsb Vx,Wx||"}, {0x1D, "~pabsw Pq,Qq|pabsw Vx,Wx||"}, {0x1E, "~pabsd Pq,Qq|pabsd Vx,Wx||"},
    {0x20, "~|pmovsxbw Vx,Wq||"}, {0x21, "~|pmovsxbd Vx,Wd||"}, {0x22, "~|pmovsxbq Vx,Ww||"},
    {0x23, "~|pmovsxwd Vx,Wq||"}, {0x24, "~|pmovsxwq Vx,Wd||"}, {0x25, "~|pmovsxdq Vx,Wq||"},
    {0x28, "~|pmuldq Vx,Wx||"}, {0x29, "~|pcmpeqq Vx,Wx||"}, {0x2A, "~|movntdqa Vx,Mx||"}, {0x2B, "~|packusdw Vx,Wx||"},
    {0x30, "~|pmovzxbw Vx,Wq||"}, {0x31, "~|pmovzxbd Vx,Wd||"}, {0x32, "~|pmovzxbq Vx,Ww||"},
    {0x33, "~|pmovzxwd Vx,Wq||"}, {0x34, "~|pmovzxwq Vx,Wd||"}, {0x35, "~|pmovzxdq Vx,Wq||"},
    {0x37, "~|pcmpgtq Vx,Wx||"}, {0x38, "~|pminsb Vx,Wx||"}, {0x39, "~|pminsd Vx,Wx||"},
    {0x3A, "~|pminuw Vx,Wx||"}, {0x3B, "~|pminud Vx,Wx||"}, {0x3C, "~|pmaxsb Vx,Wx||"},
    {0x3D, "~|pmaxsd Vx,Wx||"}, {0x3E, "~|pmaxuw Vx,Wx||"}, {0x3F, "~|pmaxud Vx,Wx||"},
    {0x40, "~|pmulld Vx,Wx||"}, {0x41, "~|phminposuw Vx,Wx||"},
    {0xDB, "~|aesimc Vx,Wx||"}, {0xDC, "~|aesenc Vx,Wx||"}, {0xDD, "~|aesenclast Vx,Wx||"},
    {0xDE, "~|aesdec Vx,Wx||"}, {0xDF, "~|aesdeclast Vx,Wx||"},
    {0xF0, "~movbe Gv,Mv|||crc32 Gd,Eb"}, {0xF1, "~movbe Mv,Gv|||crc32 Gd,Ev"},
};
const ThreeByte k0F3A[] = {
    {0x08, "~|roundps Vx,Wx,Ib||"}, {0x09, "~|roundpd Vx,Wx,Ib||"}, {0x0A, "~|roundss Vx,Wd,Ib||"},
    {0x0B, "~|roundsd Vx,Wq,Ib||"}, {0x0C, "~|blendps Vx,Wx,Ib||"}, {0x0D, "~|blendpd Vx,Wx,Ib||"},
    {0x0E, "~|pblendw Vx,Wx,Ib||"}, {0x0F, "~palignr Pq,Qq,Ib|palignr Vx,Wx,Ib||"},
    {0x14, "~|pextrb Ed,Vx,Ib||"}, {0x15, "~|pextrw Ed,Vx,Ib||"}, {0x16, "~|pextrd Ed,Vx,Ib||"},
    {0x17, "~|extractps Ed,Vx,Ib||"}, {0x20, "~|pinsrb Vx,Ed,Ib||"}, {0x21, "~|insertps Vx,Wd,Ib||"},
    {0x22, "~|pinsrd Vx,Ed,Ib||"}, {0x40, "~|dpps Vx,Wx,Ib||"}, {0x41, "~|dppd Vx,Wx,Ib||"},
    {0x42, "~|mpsadbw Vx,Wx,Ib||"}, {0x44, "~|pclmulqdq Vx,Wx,Ib||"},
    {0x60, "~|pcmpestrm Vx,Wx,Ib||"}, {0x61, "~|pcmpestri Vx,Wx,Ib||"},
    {0x62, "~|pcmpistrm Vx,Wx,Ib||"}, {0x63, "~|pcmpistri Vx,Wx,Ib||"}, {0xDF, "~|aeskeygenassist Vx,Wx,Ib||"},
};

uint8_t SizeCode(char c) {
    switch (c) {
    case 'b': return 1;
    case 'w': return 2;
    case 'd': return 4;
    case 'q': return 8;
    case 't': return 10;
    case 'x': return 16;
    case 'v': return kSizeV;
    case 'z': return kSizeZ;
    case 'p': return kSizeP;
    default: return 0;
    }
}

int RegisterIndex(std::string_view name) {
    static const char* const names[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
    for (int i = 0; i < 8; ++i)
        if (name == names[i]) return i;
    return -1;
}

Operand ParseOperand(std::string_view t) {
    Operand op;
    if (t == "1") { op.kind = OpKind::One; return op; }
    if (t == "cl" || t == "al" || t == "dx") {
        op.kind = OpKind::FixedReg;
        op.size = t == "dx" ? 2 : 1;
        op.reg = t == "dx" ? 2 : static_cast<uint8_t>(t == "cl" ? 1 : 0);
        return op;
    }
    if (t == "xmm0") { op.kind = OpKind::FixedXmm; op.size = 16; return op; }
    if (t.size() == 3 && t[0] == 'e' && t[1] >= 'A' && t[1] <= 'Z') {
        char lower[2] = {static_cast<char>(t[1] - 'A' + 'a'), static_cast<char>(t[2] - 'A' + 'a')};
        op.kind = OpKind::FixedReg;
        op.size = kSizeV;
        op.reg = static_cast<uint8_t>(RegisterIndex(std::string_view(lower, 2)));
        return op;
    }
    static const char* const segs[6] = {"es", "cs", "ss", "ds", "fs", "gs"};
    for (int i = 0; i < 6; ++i)
        if (t == segs[i]) { op.kind = OpKind::FixedSeg; op.reg = static_cast<uint8_t>(i); op.size = 2; return op; }
    char k = t[0];
    char s = t.size() > 1 ? t[1] : '\0';
    op.size = SizeCode(s);
    switch (k) {
    case 'E': op.kind = OpKind::E; break;
    case 'G': op.kind = OpKind::G; break;
    case 'M': op.kind = OpKind::M; break;
    case 'R': op.kind = OpKind::R; break;
    case 'C': op.kind = OpKind::C; op.size = 4; break;
    case 'D': op.kind = OpKind::D; op.size = 4; break;
    case 'S': op.kind = OpKind::S; op.size = 2; break;
    case 'I': op.kind = s == 's' ? OpKind::ImmS : OpKind::Imm; if (s == 's') op.size = 1; break;
    case 'J': op.kind = OpKind::Rel; break;
    case 'A': op.kind = OpKind::FarPtr; break;
    case 'O': op.kind = OpKind::Moffs; break;
    case 'P': op.kind = OpKind::P; op.size = 8; break;
    case 'Q': op.kind = OpKind::Q; break;
    case 'N': op.kind = OpKind::N; op.size = 8; break;
    case 'V': op.kind = OpKind::V; op.size = 16; break;
    case 'W': op.kind = OpKind::W; break;
    case 'U': op.kind = OpKind::U; op.size = 16; break;
    case 'Z': op.kind = OpKind::OpReg; break;
    default: op.kind = OpKind::None; break;
    }
    return op;
}

bool NeedsModRm(OpKind k) {
    switch (k) {
    case OpKind::E: case OpKind::G: case OpKind::M: case OpKind::R: case OpKind::C: case OpKind::D:
    case OpKind::S: case OpKind::P: case OpKind::Q: case OpKind::N: case OpKind::V: case OpKind::W:
    case OpKind::U:
        return true;
    default:
        return false;
    }
}

// Compiles "mnemonic op,op,op" into `e`.
void Compile(std::string_view text, Entry& e) {
    e = Entry{};
    if (text.empty()) return;
    e.valid = true;
    size_t space = text.find(' ');
    std::string_view mn = text.substr(0, space);
    std::memcpy(e.mnemonic, mn.data(), std::min(mn.size(), sizeof(e.mnemonic) - 1));
    if (space == std::string_view::npos) return;
    std::string_view rest = text.substr(space + 1);
    while (!rest.empty() && e.count < 3) {
        size_t comma = rest.find(',');
        Operand op = ParseOperand(rest.substr(0, comma));
        if (NeedsModRm(op.kind)) e.modrm = true;
        e.ops[e.count++] = op;
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
    }
}

int FindGroup(std::string_view name) {
    for (size_t i = 0; i < sizeof(kGroups) / sizeof(kGroups[0]); ++i)
        if (name == kGroups[i].name) return static_cast<int>(i);
    return -1;
}

void CompileSlot(std::string_view text, Slot& slot, Tables& tables) {
    const uint16_t variantIndex = slot.variantIndex;
    slot = Slot{};
    slot.variantIndex = variantIndex;
    if (text.empty()) return;
    if (text[0] == '@') {
        slot.special = text == "@x87" ? Special::X87 : text == "@3dnow" ? Special::ThreeDNow
                     : text == "@0f38" ? Special::Map0F38 : Special::Map0F3A;
        slot.entry.valid = true;
        slot.entry.modrm = slot.special == Special::X87 || slot.special == Special::ThreeDNow;
        return;
    }
    if (text[0] == '#') {
        size_t space = text.find(' ');
        std::string_view name = text.substr(1, space == std::string_view::npos ? std::string_view::npos : space - 1);
        slot.group = static_cast<int8_t>(FindGroup(name));
        // The operands written after the group name apply to members that carry none of their own.
        std::string operands = "x";
        if (space != std::string_view::npos) operands.append(" ").append(text.substr(space + 1));
        Compile(operands, slot.entry);
        slot.entry.modrm = true;
        return;
    }
    if (text[0] == '~') {
        slot.variants = true;
        std::string_view rest = text.substr(1);
        for (int v = 0; v < 4; ++v) {
            size_t bar = rest.find('|');
            std::string_view part = rest.substr(0, bar);
            if (!part.empty() && part[0] == '@') {
                // movlps/movhps: the register form is movhlps/movlhps.
                Compile(part == "@movlps" ? "movlps Vx,Mq" : "movhps Vx,Mq", tables.variants[slot.variantBase(v)]);
                slot.splitRegForm = true;
            } else {
                Compile(part, tables.variants[slot.variantBase(v)]);
            }
            if (bar == std::string_view::npos) rest = {};
            else rest = rest.substr(bar + 1);
        }
        slot.entry.valid = true;
        slot.entry.modrm = true;
        return;
    }
    Compile(text, slot.entry);
}

}  // namespace

const Tables& GetTables() {
    static const Tables* tables = [] {
        auto* t = new Tables();
        uint16_t nextVariant = 0;
        // Variant storage is addressed through variantIndex, so assign indices before compiling.
        auto prepare = [&](const char* text, Slot& slot) {
            slot = Slot{};
            std::string_view sv = text ? text : "";
            if (!sv.empty() && sv[0] == '~') {
                slot.variantIndex = nextVariant;
                nextVariant = static_cast<uint16_t>(nextVariant + 4);
            }
            CompileSlot(sv, slot, *t);
        };
        for (int i = 0; i < 256; ++i) prepare(kOneByte[i], t->oneByte[i]);
        for (int i = 0; i < 256; ++i) prepare(kTwoByte[i], t->twoByte[i]);
        for (const auto& tb : k0F38) prepare(tb.text, t->map0F38[tb.code]);
        for (const auto& tb : k0F3A) prepare(tb.text, t->map0F3A[tb.code]);
        for (size_t g = 0; g < sizeof(kGroups) / sizeof(kGroups[0]); ++g) {
            for (int r = 0; r < 8; ++r) {
                Compile(kGroups[g].mem[r], t->groups[g].mem[r]);
                std::string_view regText = kGroups[g].reg[r];
                if (regText == "=") {
                    t->groups[g].reg[r] = t->groups[g].mem[r];
                } else if (regText == "@") {
                    t->groups[g].reg[r] = Entry{};
                    t->groups[g].regSpecial[r] = true;
                } else {
                    Compile(regText, t->groups[g].reg[r]);
                }
            }
        }
        t->groupIds.g7 = static_cast<int8_t>(FindGroup("g7"));
        t->groupIds.g15 = static_cast<int8_t>(FindGroup("g15"));
        for (const auto& s : k3DNow) t->threeDNow[s.code] = s.name;
        return t;
    }();
    return *tables;
}

}  // namespace tidewell::disasm::detail
