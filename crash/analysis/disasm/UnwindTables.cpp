#include "crash/analysis/disasm/UnwindTables.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crash/base/bytes/ByteReader.h"

namespace tidewell::disasm {
namespace {

constexpr uint8_t kOmit = 0xFF;
constexpr size_t kMaxRecords = 1u << 20;
constexpr size_t kMaxCallSites = 1u << 16;
// The most bytes an encoded pointer takes, and a landing-pad table's header (three encodings,
// two pointers or LEB128 values and the table's LEB128 length).
constexpr uint32_t kPointerWindow = 10;
constexpr uint32_t kHeaderWindow = 64;

// The readable start of the n bytes at address: all of them when they can be read at once, else
// read in pieces up to the first byte that cannot be read.
std::vector<uint8_t> ReadablePrefix(const MemoryReader& mem, uint32_t address, uint32_t n) {
    std::vector<uint8_t> bytes(n);
    if (n == 0 || mem.Read(address, bytes.data(), n)) return bytes;
    uint32_t got = 0, want = 256;
    while (got < n) {
        const uint32_t k = std::min(want, n - got);
        if (mem.Read(address + got, bytes.data() + got, k)) {
            got += k;
            want = std::min(want * 2, 4096u);
        } else if (k == 1) {
            break;
        } else {
            want = k / 2;
        }
    }
    bytes.resize(got);
    return bytes;
}

// Sequential reads within [pos, limit) of the guarded memory, through a byte reader over the
// readable part of the first `window` bytes; a read past the limit or into memory that cannot be
// read fails.
class Reader {
public:
    Reader(const MemoryReader& memory, uint32_t pos, uint32_t limit, uint32_t window = UINT32_MAX)
        : mem_(memory), start_(pos),
          bytes_(pos <= limit ? ReadablePrefix(memory, pos, std::min(limit - pos, window)) : std::vector<uint8_t>()),
          r_(bytes_.data(), bytes_.size()), ok_(pos <= limit) {}
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool ok() const { return ok_ && !r_.Failed(); }
    uint32_t pos() const { return start_ + static_cast<uint32_t>(r_.Position()); }

    uint8_t U8() { return ok_ ? r_.U8() : 0; }
    uint16_t U16() { return ok_ ? r_.U16() : 0; }
    uint32_t U32() { return ok_ ? r_.U32() : 0; }
    uint64_t Uleb() { return ok_ ? r_.ULeb128() : 0; }
    int64_t Sleb() { return ok_ ? r_.SLeb128() : 0; }
    std::string CString(size_t max) {
        std::string s;
        for (size_t i = 0; ok() && i < max; ++i) {
            char c = static_cast<char>(U8());
            if (c == 0) return s;
            s += c;
        }
        ok_ = false;
        return s;
    }
    // A pointer in DWARF exception-header encoding; `base` is the data-relative base.
    uint32_t Pointer(uint8_t encoding, uint32_t dataBase = 0) {
        if (encoding == kOmit) return 0;
        const uint32_t at = pos();
        uint32_t v = 0;
        switch (encoding & 0x0F) {
        case 0x00: case 0x03: case 0x0B: v = U32(); break;
        case 0x01: v = static_cast<uint32_t>(Uleb()); break;
        case 0x09: v = static_cast<uint32_t>(Sleb()); break;
        case 0x02: v = U16(); break;
        case 0x0A: v = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(U16()))); break;
        default: ok_ = false; return 0;  // 8-byte forms do not occur in 32-bit code
        }
        switch (encoding & 0x70) {
        case 0x00: break;
        case 0x10: v += at; break;        // pc-relative
        case 0x30: v += dataBase; break;  // data-relative
        default: ok_ = false; return 0;
        }
        if (encoding & 0x80) {  // indirect
            uint32_t cell = 0;
            if (!mem_.Read(v, &cell, 4)) ok_ = false;
            v = cell;
        }
        return v;
    }

private:
    const MemoryReader& mem_;
    uint32_t start_;
    std::vector<uint8_t> bytes_;
    kx::ByteReader r_;
    bool ok_;
};

struct Cie {
    uint8_t fdeEncoding = 0;
    uint8_t lsdaEncoding = kOmit;
    bool augmented = false;
};

std::optional<Cie> ReadCie(const MemoryReader& mem, uint32_t at, uint32_t sectionEnd) {
    Reader r(mem, at, sectionEnd, 4);
    uint32_t length = r.U32();
    if (!r.ok() || length == 0 || length == 0xFFFFFFFF || length > sectionEnd - r.pos()) return std::nullopt;
    Reader c(mem, r.pos(), r.pos() + length);
    if (c.U32() != 0) return std::nullopt;  // not a CIE
    uint8_t version = c.U8();
    std::string aug = c.CString(16);
    if (!c.ok() || (version != 1 && version != 3)) return std::nullopt;
    Cie cie;
    if (aug.find("eh") != std::string::npos) c.U32();
    c.Uleb();  // code alignment
    c.Sleb();  // data alignment
    if (version == 1) c.U8(); else c.Uleb();  // return address register
    if (aug.empty() || aug[0] != 'z') return c.ok() ? std::optional<Cie>(cie) : std::nullopt;
    cie.augmented = true;
    c.Uleb();  // augmentation data length
    for (size_t i = 1; i < aug.size() && c.ok(); ++i) {
        switch (aug[i]) {
        case 'P': {
            uint8_t enc = c.U8();
            c.Pointer(enc & 0x7F);  // the personality routine itself is not needed
            break;
        }
        case 'L': cie.lsdaEncoding = c.U8(); break;
        case 'R': cie.fdeEncoding = c.U8(); break;
        case 'S': case 'B': break;
        default: return std::nullopt;
        }
    }
    return c.ok() ? std::optional<Cie>(cie) : std::nullopt;
}

}  // namespace

std::vector<FrameDescription> ReadFrameDescriptions(const MemoryReader& mem, uint32_t begin, uint32_t end) {
    std::vector<FrameDescription> out;
    std::map<uint32_t, std::optional<Cie>> cies;
    uint32_t at = begin;
    for (size_t records = 0; at < end && records < kMaxRecords; ++records) {
        Reader r(mem, at, end, 8);
        const uint32_t length = r.U32();
        if (!r.ok() || length == 0 || length == 0xFFFFFFFF || length > end - r.pos()) break;
        const uint32_t body = r.pos();
        const uint32_t next = body + length;
        const uint32_t cieOffset = r.U32();
        if (r.ok() && cieOffset != 0 && cieOffset <= body - begin) {
            const uint32_t cieAt = body - cieOffset;
            auto found = cies.find(cieAt);
            if (found == cies.end()) found = cies.emplace(cieAt, ReadCie(mem, cieAt, end)).first;
            if (found->second) {
                const Cie& cie = *found->second;
                Reader f(mem, r.pos(), next);
                FrameDescription d;
                d.begin = f.Pointer(cie.fdeEncoding);
                d.end = d.begin + f.Pointer(cie.fdeEncoding & 0x0F);
                if (cie.augmented) {
                    const uint32_t augLength = static_cast<uint32_t>(f.Uleb());
                    const uint32_t augEnd = f.pos() + augLength;
                    if (cie.lsdaEncoding != kOmit) {
                        Reader l(mem, f.pos(), augEnd, kPointerWindow);
                        d.lsda = l.Pointer(cie.lsdaEncoding);
                        if (!l.ok()) d.lsda = 0;
                    }
                }
                if (f.ok() && d.end > d.begin) out.push_back(d);
            }
        }
        at = next;
    }
    return out;
}

std::vector<uint32_t> LandingPads(const MemoryReader& mem, const FrameDescription& fde) {
    std::vector<uint32_t> pads;
    if (!fde.lsda) return pads;
    Reader r(mem, fde.lsda, UINT32_MAX, kHeaderWindow);
    uint8_t lpEncoding = r.U8();
    uint32_t lpStart = lpEncoding == kOmit ? fde.begin : r.Pointer(lpEncoding);
    uint8_t ttypeEncoding = r.U8();
    if (ttypeEncoding != kOmit) r.Uleb();
    uint8_t siteEncoding = r.U8();
    uint32_t tableLength = static_cast<uint32_t>(r.Uleb());
    if (!r.ok() || tableLength > (1u << 20)) return pads;
    Reader sites(mem, r.pos(), r.pos() + tableLength);
    for (size_t i = 0; i < kMaxCallSites && sites.ok() && sites.pos() < r.pos() + tableLength; ++i) {
        sites.Pointer(siteEncoding);  // start
        sites.Pointer(siteEncoding);  // length
        uint32_t pad = sites.Pointer(siteEncoding);
        sites.Uleb();                 // action
        if (!sites.ok()) break;
        if (pad) {
            uint32_t address = lpStart + pad;
            // Without an explicit base the pads lie in the described code; with one (a function
            // split into hot and cold parts) they may lie in the other part.
            if (lpEncoding != kOmit || (address >= fde.begin && address < fde.end)) pads.push_back(address);
        }
    }
    std::sort(pads.begin(), pads.end());
    pads.erase(std::unique(pads.begin(), pads.end()), pads.end());
    return pads;
}

std::vector<uint32_t> LandingPadsAt(const MemoryReader& mem, uint32_t begin, uint32_t end, uint32_t address) {
    for (const auto& d : ReadFrameDescriptions(mem, begin, end))
        if (address >= d.begin && address < d.end) return LandingPads(mem, d);
    return {};
}

}  // namespace tidewell::disasm
