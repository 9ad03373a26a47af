#pragma once
// A MemoryReader that reads its source a whole page at a time and keeps the latest pages.
// Scanning a stack slot by slot, or testing the bytes before many candidate return addresses,
// then costs one read of the source per page instead of one per value. Readability is decided
// per page, as the system protects memory per page: a page of such a source that could not be
// read is remembered as unreadable (values that merely look like addresses cost one look per
// page), and it never pushes a readable page out. Of any other source, the bytes of a page that
// could not be read whole are asked for themselves. The cache holds what the pages held when
// they were first read: make a new one (or Clear it) for every look at memory that moves.
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::disasm {

class PageCachedMemory final : public MemoryReader {
public:
    static constexpr uint32_t kPageSize = 4096;

    explicit PageCachedMemory(const MemoryReader& source, uint32_t capacity = 32);
    bool Read(uint64_t address, void* buffer, uint32_t count) const override;
    bool PageGranular() const override { return source_.PageGranular(); }
    void Clear();
    // Reads the source has been asked for (one per page brought in), for tests and benchmarks.
    uint64_t SourceReads() const { return sourceReads_; }

private:
    struct Page {
        uint64_t number = 0;
        bool readable = false;
        uint64_t lastUse = 0;
        std::unique_ptr<uint8_t[]> bytes;  // kPageSize bytes when readable
    };
    // The cached page, or null when the page of a page-granular source cannot be read.
    const Page* PageOf(uint64_t number) const;

    const MemoryReader& source_;
    uint32_t capacity_;
    mutable std::vector<Page> pages_;
    mutable std::unordered_set<uint64_t> unreadable_;  // page numbers, for a page-granular source
    mutable size_t lastHit_ = 0;
    mutable uint64_t clock_ = 0;
    mutable uint64_t sourceReads_ = 0;
};

}  // namespace tidewell::disasm
