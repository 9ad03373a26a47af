#include "crash/analysis/disasm/Disassembly.h"

#include <algorithm>
#include <exception>
#include <set>
#include <vector>

namespace tidewell::disasm {

const char* const kDisassemblyInternalError =
    "Internal error in ParseFunction while composing the disassembling string...  :-(";

namespace {

constexpr const char* kNewLine = "\r\n";
constexpr const char* kSeparator = "; ---------------------------------------------------------";
constexpr size_t kMaxStringComment = 100;

void PadTo(std::string& s, size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
}

int Digits(int64_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

struct Line {
    uint64_t address = 0;
    std::string text;      // without the line-number column
    bool addressOnly = false;
    bool plain = false;    // no address ("[...]")
    bool marked = false;   // the exception line
};

class Composer {
public:
    Composer(const MemoryReader& memory, uint64_t start, uint64_t exceptAddress, const DisassemblyOptions& options)
        : mem_(memory), start_(start), except_(exceptAddress), opt_(options),
          mode_(options.analysis.mode), cut_(mode_ == CpuMode::X64 ? 17 : 9) {}

    // The address column: 8 hex digits in 32-bit mode, 16 in 64-bit mode.
    std::string Hex(uint64_t a) const { return HexAddress(a, mode_); }
    // Pads a line that still starts with the address column to the column `width` of the
    // 32-bit layout; the columns after the address keep their places in both modes.
    void Pad(std::string& t, size_t width) const { PadTo(t, width + cut_ - 9); }

    bool Compose(std::vector<Line>& lines) {
        info_ = ParseFunction(mem_, start_, opt_.analysis);
        if (!info_.IsValid) return false;
        const SymbolProvider* sym = opt_.symbols;
        std::string name = sym ? sym->ProcedureName(start_) : std::string();
        labelName_ = name.empty() ? "sub_" + Hex(start_) : name;
        functionLabel_ = name.empty() ? labelName_ : "public " + name;
        CollectLabels();

        const auto& areas = info_.CodeAreas;
        for (size_t i = 0; i < areas.size(); ++i) {
            const CodeArea& a = areas[i];
            if (a.CaseBlock) {
                CaseTable(a, lines);
            } else if (a.OnExceptBlock) {
                ExceptTable(a, lines);
            } else {
                bool endsWithTransfer = Code(a, lines);
                if (opt_format_ && endsWithTransfer && i + 1 < areas.size()) {
                    const CodeArea& next = areas[i + 1];
                    uint64_t after = a.AreaEnd + 1;
                    lines.push_back({after, "", true});
                    if (!FallThroughContinuation(next)) {
                        lines.push_back({after, kSeparator});
                        lines.push_back({after, "", true});
                    }
                }
            }
        }
        return true;
    }

    bool opt_format_ = false;
    const FunctionInfo& Info() const { return info_; }

private:
    void CollectLabels() {
        for (const auto& a : info_.CodeAreas) {
            if (a.CaseBlock) {
                for (uint64_t p = a.AreaBegin; p + 3 <= a.AreaEnd; p += 4) {
                    uint32_t t = 0;
                    if (mem_.Read(p, &t, 4)) labels_.insert(t);
                }
            } else if (a.OnExceptBlock) {
                for (uint64_t p = a.AreaBegin + 4; p + 7 <= a.AreaEnd; p += 8) {
                    uint32_t t = 0;
                    if (mem_.Read(p + 4, &t, 4)) labels_.insert(t);
                }
            } else if (a.CalledFrom) {
                labels_.insert(a.AreaBegin);
            }
        }
        // Targets of jumps inside the function.
        for (const auto& a : info_.CodeAreas) {
            if (a.CaseBlock || a.OnExceptBlock) continue;
            RegisterState regs = a.Registers;
            for (uint64_t cur = a.AreaBegin; cur <= a.AreaEnd;) {
                DecodedInstruction d = ParseCode(mem_, cur, regs, opt_.analysis.tryRead, mode_);
                if (!d.IsValid || d.Next <= cur) break;
                if (d.Jmp && d.Target && InFunction(d.Target)) labels_.insert(d.Target);
                cur = d.Next;
            }
        }
        handlerAreas_.clear();
        const RuntimeHelpers& h = opt_.analysis.helpers;
        for (const auto& f : info_.FarCalls)
            if (h.handleFinally && f.Target == h.handleFinally) handlerAreas_.insert(f.CodeAddr2);
    }

    bool InFunction(uint64_t a) const {
        for (const auto& area : info_.CodeAreas)
            if (!area.CaseBlock && !area.OnExceptBlock && a >= area.AreaBegin && a <= area.AreaEnd) return true;
        return false;
    }

    // The block after `next` continues the flow of a conditional jump or a finally handler.
    bool FallThroughContinuation(const CodeArea& next) const {
        if (handlerAreas_.count(next.AreaBegin)) return true;
        if (!next.CalledFrom) return false;
        DecodedInstruction d = ParseCode(mem_, next.CalledFrom, false, mode_);
        if (!d.IsValid) return false;
        const uint16_t op = d.Opcode;
        return (op >= 0x70 && op <= 0x7F) || (op >= 0x0F80 && op <= 0x0F8F) || (op >= 0xE0 && op <= 0xE3);
    }

    std::string LocName(uint64_t target) const {
        return target == start_ ? labelName_ : "loc_" + Hex(target);
    }

    // A string of printable characters ending in a zero byte at `address`, or empty.
    std::string ReadString(uint64_t address) const {
        std::string s;
        for (size_t i = 0; i <= kMaxStringComment; ++i) {
            uint8_t c = 0;
            if (!mem_.Read(address + i, &c, 1)) return {};
            if (c == 0) break;
            if (c < 0x20 || c > 0x7E || i == kMaxStringComment) return {};
            s += static_cast<char>(c);
        }
        return s.size() >= 2 ? s : std::string();
    }

    void LabelLine(uint64_t address, std::vector<Line>& lines) {
        if (address == start_) {
            std::string t = Hex(address) + " " + functionLabel_ + ":";
            Pad(t, 31);
            t += "  ; function entry point";
            lines.push_back({address, t.substr(cut_)});
        } else {
            lines.push_back({address, LocName(address) + ":"});
        }
    }

    // Writes the instructions of a code area; returns whether it ends with an unconditional
    // transfer.
    bool Code(const CodeArea& a, std::vector<Line>& lines) {
        if (a.AreaBegin == start_ || labels_.count(a.AreaBegin) || a.AreaBegin != lastEnd_ + 1)
            LabelLine(a.AreaBegin, lines);
        lastEnd_ = a.AreaEnd;
        RegisterState regs = a.Registers;
        bool endsWithTransfer = false;
        for (uint64_t cur = a.AreaBegin; cur <= a.AreaEnd && cur >= a.AreaBegin;) {
            if (cur != a.AreaBegin && labels_.count(cur)) LabelLine(cur, lines);
            InstructionText text;
            DecodedInstruction d = ParseCode(mem_, cur, &regs, text, opt_.analysis.tryRead, mode_);
            std::string t = Hex(cur) + "   ";
            if (!d.IsValid) {
                uint8_t b = 0;
                mem_.Read(cur, &b, 1);
                static const char digits[] = "0123456789abcdef";
                t += "db ";
                t += digits[b >> 4];
                t += digits[b & 15];
                lines.push_back({cur, t.substr(cut_), false, false, cur == except_});
                ++cur;
                endsWithTransfer = false;
                continue;
            }
            t += text.prefixes + text.mnemonic;
            if (text.relOperand >= 0 && d.Target && InFunction(d.Target))
                text.operands[static_cast<size_t>(text.relOperand)] = LocName(d.Target);
            if (!text.operands.empty()) {
                Pad(t, 19);
                if (t.back() != ' ') t += ' ';
                for (size_t i = 0; i < text.operands.size(); ++i) {
                    if (i) t += ", ";
                    t += text.operands[i];
                }
            }
            std::string comment = Comment(d);
            if (!comment.empty()) {
                Pad(t, 40);
                t += comment;
            }
            lines.push_back({cur, t.substr(cut_), false, false, cur == except_});
            endsWithTransfer = d.IsReturn || (d.Jmp && IsUnconditional(d)) || (!d.Jmp && !d.Call && IsUnconditional(d));
            if (d.Next <= cur) break;
            cur = d.Next;
        }
        return endsWithTransfer;
    }

    static bool IsUnconditional(const DecodedInstruction& d) {
        const uint16_t op = d.Opcode;
        if (op == 0xE9 || op == 0xEA || op == 0xEB) return true;
        return op == 0xFF && d.HasModRm && (((d.ModRm >> 3) & 7) == 4 || ((d.ModRm >> 3) & 7) == 5);
    }

    std::string Comment(const DecodedInstruction& d) const {
        const SymbolProvider* sym = opt_.symbols;
        if (d.Call && d.Target && sym && !InFunction(d.Target)) {
            std::string name = sym->ProcedureName(d.Target);
            if (!name.empty()) {
                std::string module = sym->ModuleFileName(d.Target);
                if (!module.empty() && module != sym->ModuleFileName(start_) && name.find('(') == std::string::npos)
                    name += " (" + module + ")";
                return "  ; " + name;
            }
        }
        if (d.Call || d.Jmp) return {};
        uint64_t ref = d.MemAbsolute ? d.MemAddress : d.HasImm32 ? d.Imm32 : d.HasImm64 ? d.Imm64 : 0;
        if (ref >= 0x10000) {
            std::string s = ReadString(ref);
            if (!s.empty()) return "  ; '" + s + "'";
        }
        return {};
    }

    void CaseTable(const CodeArea& a, std::vector<Line>& lines) {
        bool first = true;
        for (uint64_t p = a.AreaBegin; p + 3 <= a.AreaEnd && p >= a.AreaBegin; p += 4) {
            uint32_t t = 0;
            mem_.Read(p, &t, 4);
            std::string s = Hex(p) + "   dd " + LocName(t);
            if (first) {
                Pad(s, 31);
                s += "  ; case jump table";
                first = false;
            }
            lines.push_back({p, s.substr(cut_)});
        }
        lastEnd_ = a.AreaEnd;
    }

    void ExceptTable(const CodeArea& a, std::vector<Line>& lines) {
        struct Entry { uint64_t at; uint32_t cls, handler; std::string name; };
        std::vector<Entry> entries;
        size_t width = 0;
        for (uint64_t p = a.AreaBegin + 4; p + 7 <= a.AreaEnd && p > a.AreaBegin; p += 8) {
            Entry e{p, 0, 0, {}};
            mem_.Read(p, &e.cls, 4);
            mem_.Read(p + 4, &e.handler, 4);
            if (e.cls) {
                e.name = opt_.symbols ? opt_.symbols->ClassName(e.cls) : std::string();
                if (e.name.empty()) e.name = "EUnknown";
                width = std::max(width, e.name.size());
            }
            entries.push_back(e);
        }
        for (const auto& e : entries) {
            std::string s;
            if (e.cls) {
                s = "  on " + e.name;
                s.append(width - e.name.size(), ' ');
                s += " do";
            } else {
                s = "  else";
                s.append(width + 8 - 6, ' ');
            }
            s += " " + LocName(e.handler);
            lines.push_back({e.at, s});
        }
        lastEnd_ = a.AreaEnd;
    }

    const MemoryReader& mem_;
    uint64_t start_;
    uint64_t except_;
    const DisassemblyOptions& opt_;
    CpuMode mode_;
    size_t cut_;  // width of the address column and its space
    FunctionInfo info_;
    std::string labelName_, functionLabel_;
    std::set<uint64_t> labels_;
    std::set<uint64_t> handlerAreas_;
    uint64_t lastEnd_ = 0;
};

std::string Render(const Line& l, int width, const SymbolProvider* sym, int& previousLine, CpuMode mode) {
    if (l.plain) return l.text;
    std::string s = HexAddress(l.address, mode);
    if (l.addressOnly) return s;
    s += ' ';
    if (width > 0) {
        int line = sym ? sym->Line(l.address) : 0;
        if (line > 0 && line != previousLine) {
            std::string n = std::to_string(line);
            if (static_cast<int>(n.size()) < width) n.insert(0, static_cast<size_t>(width) - n.size(), '0');
            s += n + ' ';
            previousLine = line;
        } else {
            s.append(static_cast<size_t>(width) + 1, ' ');
        }
    }
    std::string text = l.text;
    if (l.marked && !text.empty()) text[0] = '>';
    return s + text;
}

}  // namespace

std::string DisassembleFunction(const MemoryReader& memory, uint64_t functionStart, uint64_t exceptAddress,
                                int limit, bool format, const DisassemblyOptions& options) {
    try {
        Composer composer(memory, functionStart, exceptAddress, options);
        composer.opt_format_ = format;
        std::vector<Line> lines;
        if (!composer.Compose(lines)) return {};

        // The line-number column.
        int width = 0;
        const SymbolProvider* sym = options.symbols;
        if (sym) {
            const FunctionInfo& info = composer.Info();
            int last = info.CodeLen ? sym->Line(info.CodeBegin + info.CodeLen - 1) : 0;
            if (last > 0) width = Digits(last);
            else if (sym->Line(exceptAddress) > 0) width = Digits(10LL * sym->Line(exceptAddress));
        }

        // Limiting around the exception line.
        size_t first = 0, end = lines.size();
        bool cutBefore = false, cutAfter = false;
        if (limit > 0) {
            const size_t n = static_cast<size_t>(limit);
            auto marked = std::find_if(lines.begin(), lines.end(), [](const Line& l) { return l.marked; });
            if (marked != lines.end()) {
                const size_t at = static_cast<size_t>(marked - lines.begin());
                if (at > n * 12 / 10) {
                    first = at - n;
                    cutBefore = true;
                }
                if (end - at - 1 > n) {
                    end = at + 1 + n;
                    cutAfter = true;
                }
            }
        }
        std::string out;
        int previousLine = 0;
        // Line numbers continue from the lines that were cut off.
        for (size_t i = 0; i < first; ++i)
            if (int line = sym ? sym->Line(lines[i].address) : 0; line > 0 && !lines[i].addressOnly) previousLine = line;
        if (cutBefore) out += std::string("[...]") + kNewLine;
        for (size_t i = first; i < end; ++i) {
            if (i != first) out += kNewLine;
            out += Render(lines[i], width, sym, previousLine, options.analysis.mode);
        }
        if (cutAfter) out += std::string(kNewLine) + "[...]";
        return out;
    } catch (const std::exception&) {
        return kDisassemblyInternalError;
    }
}

}  // namespace tidewell::disasm
