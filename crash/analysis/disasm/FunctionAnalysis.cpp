#include "crash/analysis/disasm/FunctionAnalysis.h"

#include "crash/analysis/disasm/ModuleImage.h"

#include <algorithm>
#include <map>
#include <set>

namespace tidewell::disasm {

const char* const kErrorNotCommittedText = "The parameter is incorrect.";
const char* const kErrorInvalidCodeText = "Invalid code!";

namespace {

// Bounds that keep the analysis of hostile or random bytes finite.
constexpr size_t kMaxAreas = 4096;
constexpr size_t kMaxInstructions = 200000;
constexpr uint32_t kMaxTableEntries = 256;  // an imm8 range check allows at most 128 + 1
constexpr uint32_t kMaxHandlers = 1024;
constexpr uint32_t kGapLimit = 1024;

bool IsConditionalAboveOrGreater(uint16_t op, bool& orEqual) {
    switch (op) {
    case 0x77: case 0x7F: case 0x0F87: case 0x0F8F: orEqual = false; return true;
    case 0x73: case 0x7D: case 0x0F83: case 0x0F8D: orEqual = true; return true;
    default: return false;
    }
}

bool IsUnconditionalJump(const DecodedInstruction& d) {
    const uint16_t op = d.Opcode;
    if (op == 0xE9 || op == 0xEA || op == 0xEB) return true;
    return op == 0xFF && d.HasModRm && (((d.ModRm >> 3) & 7) == 4 || ((d.ModRm >> 3) & 7) == 5);
}

class Analyzer {
public:
    Analyzer(const MemoryReader& memory, uint64_t entry, const AnalysisOptions& options)
        : mem_(memory), entry_(entry), opt_(options), x64_(options.mode == CpuMode::X64),
          top_(x64_ ? UINT64_MAX : UINT32_MAX) {}

    FunctionInfo Run() {
        FunctionInfo& r = result_;
        r.EntryPoint = entry_;
        uint8_t probe = 0;
        if (!mem_.Read(entry_, &probe, 1)) {
            Fail(kErrorNotCommitted, kErrorNotCommittedText, entry_);
            return Finish();
        }
        AddArea(entry_, RegisterState{}, 0);
        for (uint64_t extra : opt_.extraEntries) AddArea(extra, RegisterState{}, 0);
        if (!Drain()) return Finish();
        for (;;) {
            SecondPass();
            if (failed_) return Finish();
            if (!TryGap()) break;
        }
        return Finish();
    }

private:
    struct Area {
        CodeArea info;
        bool decoded = false;
        bool special = false;  // case block or exception table: data, not code
    };

    bool Inside(uint64_t a) const {
        if (opt_.rangeBegin == 0 && opt_.rangeEnd == 0) return true;
        return a >= opt_.rangeBegin && a < opt_.rangeEnd;
    }

    bool IsNoReturn(uint64_t target) const {
        if (target == 0) return false;
        if (target == opt_.helpers.halt) return true;
        return std::find(opt_.noReturn.begin(), opt_.noReturn.end(), target) != opt_.noReturn.end();
    }

    bool IsHelper(uint64_t t) const {
        const RuntimeHelpers& h = opt_.helpers;
        return t != 0 && (t == h.handleOnException || t == h.handleAnyException || t == h.handleFinally ||
                          t == h.handleAutoException || t == h.halt);
    }

    void Fail(uint32_t number, const char* text, uint64_t address) {
        failed_ = true;
        result_.IsValid = false;
        result_.LastErrorNo = number;
        result_.LastErrorStr = text;
        result_.LastErrorAddr = address;
    }

    // The area that contains `a` (code or data), or areas_.end().
    std::map<uint64_t, Area>::iterator Containing(uint64_t a) {
        auto it = areas_.upper_bound(a);
        if (it == areas_.begin()) return areas_.end();
        --it;
        if (it->second.decoded && a <= it->second.info.AreaEnd) return it;
        if (it->first == a) return it;
        return areas_.end();
    }

    // Opens a code area at `begin` unless one exists there or decoded code already covers it.
    void AddArea(uint64_t begin, const RegisterState& regs, uint64_t calledFrom) {
        if (begin == 0 || areas_.size() >= kMaxAreas) return;
        uint8_t probe = 0;
        if (!mem_.Read(begin, &probe, 1)) return;
        auto existing = areas_.find(begin);
        if (existing != areas_.end()) {
            Area& a = existing->second;
            if (a.special) return;
            if (!a.info.CalledFrom) a.info.CalledFrom = calledFrom;
            Merge(a, regs);
            return;
        }
        auto it = Containing(begin);
        if (it != areas_.end()) {
            Area& outer = it->second;
            if (outer.special || !boundaries_.count(begin)) return;  // data, or inside an instruction
            // Split the area at the instruction boundary so that the target gets its own label.
            Area tail;
            tail.info.AreaBegin = begin;
            tail.info.AreaEnd = outer.info.AreaEnd;
            tail.info.CalledFrom = calledFrom;
            // The tail is also reached by falling through from the code before it, whose
            // register state at this point is not kept: start it with nothing known.
            (void)regs;
            tail.decoded = true;
            outer.info.AreaEnd = begin - 1;
            areas_.emplace(begin, tail);
            // The decoded state at the split point is not kept; decode the tail again.
            areas_[begin].decoded = false;
            work_.push_back(begin);
            return;
        }
        Area a;
        a.info.AreaBegin = begin;
        a.info.AreaEnd = begin;
        a.info.CalledFrom = calledFrom;
        a.info.Registers = regs;
        areas_.emplace(begin, a);
        work_.push_back(begin);
    }

    // An area reached with another register state keeps only what both states agree on.
    void Merge(Area& a, const RegisterState& regs) {
        RegisterState merged = a.info.Registers;
        for (size_t i = 0; i < 8; ++i) {
            if (merged.value[i] != regs.value[i]) {
                merged.value[i] = 0;
                merged.source[i] = 0;
            }
        }
        if (merged != a.info.Registers) {
            a.info.Registers = merged;
            if (a.decoded) {
                a.decoded = false;
                work_.push_back(a.info.AreaBegin);
            }
        }
    }

    void AddSpecial(uint64_t begin, uint64_t length, bool caseBlock) {
        if (length == 0 || begin > top_ - (length - 1)) return;
        Area a;
        a.info.AreaBegin = begin;
        a.info.AreaEnd = begin + length - 1;
        a.info.CaseBlock = caseBlock;
        a.info.OnExceptBlock = !caseBlock;
        a.decoded = true;
        a.special = true;
        areas_[begin] = a;
    }

    void AddFarCall(const DecodedInstruction& d) {
        for (const auto& f : result_.FarCalls)
            if (f.CodeAddr2 == d.Next) return;  // one per return address
        FarCall f;
        f.Call = d.Call;
        f.CodeAddr1 = d.This;
        f.CodeAddr2 = d.Next;
        f.Target = d.Target;
        f.RelTarget = d.RelTarget;
        f.PTarget = d.PTarget;
        f.PPTarget = d.PPTarget;
        result_.FarCalls.push_back(f);
    }

    void AddUnknown(const DecodedInstruction& d) {
        for (const auto& u : result_.UnknownTargets)
            if (u.CodeAddr1 == d.This) return;
        result_.UnknownTargets.push_back({d.Call, d.This, d.Next});
    }

    bool Drain() {
        while (!work_.empty() && !failed_) {
            uint64_t begin = work_.back();
            work_.pop_back();
            auto it = areas_.find(begin);
            if (it == areas_.end() || it->second.decoded || it->second.special) continue;
            DecodeArea(begin);
        }
        return !failed_;
    }

    // The start of the first area after `a`, or 0 when there is none.
    uint64_t NextAreaStart(uint64_t a) const {
        auto it = areas_.upper_bound(a);
        return it == areas_.end() ? 0 : it->first;
    }

    void DecodeArea(uint64_t begin) {
        Area& area = areas_[begin];
        area.decoded = true;
        RegisterState regs = area.info.Registers;
        uint64_t cur = begin;
        area.info.AreaEnd = begin;
        bool first = true;
        // Jump-table pattern state: the range check (cmp reg, imm8) and the conditional jump.
        struct Cmp { int reg = -1; uint64_t limit = 0; uint64_t address = 0; } cmp, checked;
        bool checkedOrEqual = false;
        uint64_t lastPush = 0;      // address pushed by the latest push imm32
        uint64_t handlerPush = 0;   // push imm32 directly followed by an fs: instruction
        uint64_t previousPush = 0;  // push imm32 of the previous instruction
        for (;;) {
            if (!first) {
                auto at = areas_.find(cur);
                if (at != areas_.end()) {
                    // Reached the start of another area: it continues from here.
                    if (!at->second.special) Merge(at->second, regs);
                    break;
                }
            }
            uint64_t nextStart = NextAreaStart(cur);
            if (++instructions_ > kMaxInstructions) {
                Fail(kErrorInvalidCode, kErrorInvalidCodeText, cur);
                return;
            }
            DecodedInstruction d = ParseCode(mem_, cur, regs, opt_.tryRead, opt_.mode);
            if (!d.IsValid) {
                Fail(kErrorInvalidCode, kErrorInvalidCodeText, d.Next);
                return;
            }
            if (nextStart && d.Next > nextStart) {
                // The instruction would run into the following area: the area ends before it.
                // When it is the area's first instruction, a jump leads into the middle of an
                // instruction of the other area: these bytes are no consistent code.
                if (first) {
                    Fail(kErrorInvalidCode, kErrorInvalidCodeText, cur);
                    return;
                }
                break;
            }
            first = false;
            boundaries_.insert(cur);
            Area& self = areas_[begin];  // the map may have grown
            self.info.AreaEnd = (d.Next - 1) & top_;
            // ud2 raises an invalid-opcode fault and never falls through (compilers put it
            // after calls that do not return and at __builtin_trap).
            bool ends = d.IsReturn || d.Opcode == 0x0F0B;

            // push imm32 ... remembered for exception frames and finally handlers (32-bit code).
            const bool pushImm32 = !x64_ && d.Opcode == 0x68 && !d.Prefix66;
            if (pushImm32) {
                lastPush = d.Imm32;
            }
            if (previousPush && d.Segment == 5) handlerPush = previousPush;
            previousPush = pushImm32 ? d.Imm32 : 0;

            // Jump tables: cmp reg, imm8 / ja|jg|jae|jge / jmp [table + reg*4] (32-bit code).
            bool tableJump = false;
            if (!x64_ && d.Opcode == 0xFF && d.ModRm == 0x24 && checked.reg >= 0) {
                uint8_t sib = 0;
                uint32_t table = 0;
                if (mem_.Read(cur + 2, &sib, 1) && sib == (0x85 | (checked.reg << 3)) && mem_.Read(cur + 3, &table, 4)) {
                    tableJump = true;
                    // ja/jg leave indices 0..limit; jae/jge only 0..limit-1.
                    JumpTable(d, table, checkedOrEqual ? checked.limit : checked.limit + 1, checked.address);
                }
            }
            bool orEqual = false;
            if (cmp.reg >= 0 && IsConditionalAboveOrGreater(d.Opcode, orEqual)) {
                checked = cmp;
                checkedOrEqual = orEqual;
            } else {
                checked = Cmp{};
            }
            cmp = Cmp{};
            int8_t imm = 0;
            if (!x64_ && d.Opcode == 0x83 && d.ModRm >= 0xF8 && !d.Prefix66 && mem_.Read(cur + 2, &imm, 1) && imm >= 0)
                cmp = {d.ModRm & 7, static_cast<uint64_t>(imm), cur};

            if ((d.Call || d.Jmp) && !tableJump) {
                Transfer(d, regs, lastPush, handlerPush, ends);
                if (failed_) return;
            }
            if (IsUnconditionalJump(d)) ends = true;
            // A jump back into this area splits it; the part from the target on is decoded
            // again as an area of its own.
            auto split = areas_.upper_bound(begin);
            if (split != areas_.end() && split->first <= cur) {
                areas_[begin].info.AreaEnd = split->first - 1;
                break;
            }
            if (ends) break;
            if (d.Next < cur) {
                // Execution would run past the top of the address space.
                Fail(kErrorInvalidCode, kErrorInvalidCodeText, d.Next);
                return;
            }
            cur = d.Next;
        }
    }

    void JumpTable(const DecodedInstruction& d, uint64_t table, uint64_t entries, uint64_t cmpAddress) {
        entries = std::min<uint64_t>(entries, kMaxTableEntries);
        std::vector<uint64_t> targets;
        for (uint64_t i = 0; i < entries; ++i) {
            uint32_t t = 0;
            if (!mem_.Read((table + 4 * i) & top_, &t, 4)) break;
            targets.push_back(t);
        }
        if (table == d.Next) AddSpecial(table, 4 * static_cast<uint64_t>(targets.size()), true);
        for (uint64_t t : targets)
            if (Inside(t)) AddArea(t, RegisterState{}, cmpAddress);
    }

    void Transfer(const DecodedInstruction& d, const RegisterState& regs, uint64_t lastPush, uint64_t handlerPush,
                  bool& ends) {
        const RuntimeHelpers& h = opt_.helpers;
        if (d.Target == 0) {
            // An indirect transfer through an unknown register, or through a cell that holds 0,
            // right after a handler frame was pushed: the pushed handler is code of ours.
            bool throughRegister = d.HasModRm && (d.ModRm >> 6) == 3;
            uint32_t cell = 1;
            if (handlerPush && d.PPTarget && !throughRegister) {  // handlers are pushed in 32-bit code only
                uint32_t cellAddress = 0;
                if (mem_.Read(d.PPTarget, &cellAddress, 4)) mem_.Read(cellAddress, &cell, 4);
            }
            if (handlerPush && (throughRegister || cell == 0)) AddArea(handlerPush, RegisterState{}, 0);
            AddUnknown(d);
            return;
        }
        const uint64_t t = d.Target;
        if (d.Call) {
            AddFarCall(d);
            if (IsNoReturn(t)) ends = true;
        } else if (IsHelper(t) || !Inside(t) || (opt_.isOtherFunction && opt_.isOtherFunction(t))) {
            AddFarCall(d);
        } else {
            AddArea(t, regs, d.This);
        }
        if (t == h.handleOnException) {
            uint32_t count = 0;
            if (mem_.Read(d.Next, &count, 4) && count <= kMaxHandlers) {
                AddSpecial(d.Next, 8 * count + 4, false);
                for (uint32_t i = 0; i < count; ++i) {
                    uint32_t handler = 0;
                    if (mem_.Read((d.Next + 4 + 8 * i + 4) & top_, &handler, 4)) AddArea(handler, RegisterState{}, 0);
                }
            }
            ends = true;
        } else if (t == h.handleAnyException || t == h.handleFinally) {
            AddArea(d.Next, RegisterState{}, 0);
            if (t == h.handleFinally && lastPush) AddArea(lastPush, RegisterState{}, 0);
            ends = true;
        }
    }

    // Unknown targets are decoded again with the register state their area had; any that now
    // has a target is handled as a known transfer.
    void SecondPass() {
        bool again = true;
        while (again && !failed_) {
            again = false;
            std::vector<UnknownTarget> unknowns = result_.UnknownTargets;
            for (const auto& u : unknowns) {
                auto it = Containing(u.CodeAddr1);
                if (it == areas_.end() || it->second.special) continue;
                RegisterState regs = it->second.info.Registers;
                uint64_t cur = it->first;
                DecodedInstruction d;
                while (cur <= u.CodeAddr1) {
                    d = ParseCode(mem_, cur, regs, opt_.tryRead, opt_.mode);
                    if (!d.IsValid || d.Next <= cur) break;
                    if (cur == u.CodeAddr1) break;
                    cur = d.Next;
                }
                if (cur != u.CodeAddr1 || !d.IsValid || d.Target == 0) continue;
                auto& list = result_.UnknownTargets;
                list.erase(std::remove_if(list.begin(), list.end(),
                                          [&](const UnknownTarget& x) { return x.CodeAddr1 == u.CodeAddr1; }),
                           list.end());
                bool ends = false;
                Transfer(d, regs, 0, 0, ends);
                again = true;
            }
            if (!Drain()) return;
        }
    }

    // Tries the first gap between the areas as extra code. Returns true when it was kept.
    bool TryGap() {
        uint64_t previousEnd = 0;
        bool have = false;
        for (const auto& [begin, a] : areas_) {
            if (have && begin > ((previousEnd + 1) & top_)) {
                const uint64_t gap = (previousEnd + 1) & top_;
                if (begin - gap >= kGapLimit || triedGaps_.count(gap)) return false;
                triedGaps_.insert(gap);
                auto savedAreas = areas_;
                auto savedResult = result_;
                auto savedBoundaries = boundaries_;
                AddArea(gap, RegisterState{}, 0);
                if (Drain()) {
                    SecondPass();
                    if (!failed_) return true;
                }
                // The gap is not code: forget it and end the analysis.
                areas_ = std::move(savedAreas);
                result_ = std::move(savedResult);
                boundaries_ = std::move(savedBoundaries);
                failed_ = false;
                work_.clear();
                return false;
            }
            previousEnd = std::max(previousEnd, a.info.AreaEnd);
            have = true;
        }
        return false;
    }

    FunctionInfo Finish() {
        FunctionInfo& r = result_;
        if (failed_) {
            r.IsValid = false;
            r.Copy.IsValid = false;
            r.Copy.LastErrorAddr = r.LastErrorAddr;
            r.Copy.LastErrorNo = r.LastErrorNo;
            r.Copy.LastErrorStr = r.LastErrorStr;
        } else {
            r.IsValid = true;
        }
        r.CodeAreas.clear();
        for (const auto& [begin, a] : areas_) r.CodeAreas.push_back(a.info);
        if (!r.CodeAreas.empty()) {
            uint64_t lo = r.CodeAreas.front().AreaBegin, hi = 0;
            for (const auto& a : r.CodeAreas) hi = std::max(hi, a.AreaEnd);
            r.CodeBegin = lo;
            r.CodeLen = hi - lo + 1;
        }
        if (r.IsValid) {
            r.Copy.IsValid = true;
            uint64_t cells = 0;
            for (const auto& f : r.FarCalls)
                if (!f.RelTarget && f.PPTarget) ++cells;
            const uint64_t pointer = x64_ ? 8 : 4;
            r.Copy.BufferLen = static_cast<uint32_t>(std::min<uint64_t>(r.CodeLen + pointer + pointer * cells, UINT32_MAX));
            r.Interceptable = ComputeInterceptable();
        }
        return r;
    }

    bool ComputeInterceptable() const {
        auto it = areas_.find(entry_);
        if (it == areas_.end()) return false;
        uint64_t end = it->second.info.AreaEnd;
        for (auto next = std::next(it); next != areas_.end(); ++next) {
            const CodeArea& a = next->second.info;
            if (a.AreaBegin != ((end + 1) & top_) || a.CaseBlock || a.OnExceptBlock || a.CalledFrom) break;
            end = a.AreaEnd;
        }
        if (end - entry_ + 1 <= 5) return false;
        // No instruction in the first six bytes may carry a short target field that cannot be
        // widened when the code is moved.
        uint64_t cur = entry_;
        const uint64_t stop = (entry_ + 6) & top_;
        while (cur < stop) {
            DecodedInstruction d = ParseCode(mem_, cur, false, opt_.mode);
            if (!d.IsValid) return false;
            if ((d.Call || d.Jmp) && d.RelTarget && d.TargetSize < 4 && !d.Enlargeable) return false;
            cur = d.Next;
        }
        return true;
    }

    const MemoryReader& mem_;
    uint64_t entry_;
    const AnalysisOptions& opt_;
    bool x64_;
    uint64_t top_;  // highest address of the mode
    FunctionInfo result_;
    std::map<uint64_t, Area> areas_;
    std::set<uint64_t> boundaries_;
    std::set<uint64_t> triedGaps_;
    std::vector<uint64_t> work_;
    size_t instructions_ = 0;
    bool failed_ = false;
};

}  // namespace

FunctionInfo ParseFunction(const MemoryReader& memory, uint64_t entry, const AnalysisOptions& options) {
    return Analyzer(memory, entry, options).Run();
}

std::pair<uint64_t, uint64_t> ModuleCodeRange(const MemoryReader& memory, uint64_t imageBase) {
    std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(ModuleImage(memory, imageBase));
    if (!pe) return {0, 0};
    uint64_t lo = UINT64_MAX, hi = 0;
    for (size_t i = 0; i < pe->Sections.size() && i < 96; ++i) {
        const debuginfo::PeSection& s = pe->Sections[i];
        // Code and initialised or uninitialised data; resources and relocations stay outside.
        if (!(s.Characteristics & 0x000000E0u) || (s.Characteristics & 0x02000000u)) continue;
        lo = std::min(lo, imageBase + s.VirtualAddress);
        hi = std::max(hi, imageBase + s.VirtualAddress + s.VirtualSize);
    }
    if (lo >= hi) return {0, 0};
    return {lo, hi};
}

}  // namespace tidewell::disasm
