#include "crash/analysis/disasm/PageCachedMemory.h"

#include <algorithm>
#include <cstring>

namespace tidewell::disasm {

PageCachedMemory::PageCachedMemory(const MemoryReader& source, uint32_t capacity)
    : source_(source), capacity_(std::max<uint32_t>(capacity, 2)) {}

void PageCachedMemory::Clear() {
    pages_.clear();
    unreadable_.clear();
    lastHit_ = 0;
}

const PageCachedMemory::Page* PageCachedMemory::PageOf(uint64_t number) const {
    const bool granular = source_.PageGranular();
    if (granular && number == 0) return nullptr;  // small numbers that merely look like addresses
    ++clock_;
    if (lastHit_ < pages_.size() && pages_[lastHit_].number == number) {
        pages_[lastHit_].lastUse = clock_;
        return &pages_[lastHit_];
    }
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i].number == number) {
            lastHit_ = i;
            pages_[i].lastUse = clock_;
            return &pages_[i];
        }
    }
    if (granular && unreadable_.count(number)) return nullptr;
    // Page 0 is never readable: the source refuses address 0 anyway.
    std::unique_ptr<uint8_t[]> bytes = std::make_unique<uint8_t[]>(kPageSize);
    ++sourceReads_;
    const bool readable = number != 0 && source_.Read(number * kPageSize, bytes.get(), kPageSize);
    if (!readable && granular) {
        if (unreadable_.size() >= 4096) unreadable_.clear();
        unreadable_.insert(number);
        return nullptr;
    }
    size_t slot = pages_.size();
    if (pages_.size() < capacity_) {
        pages_.emplace_back();
    } else {
        slot = size_t(std::min_element(pages_.begin(), pages_.end(),
                                       [](const Page& a, const Page& b) { return a.lastUse < b.lastUse; }) -
                      pages_.begin());
    }
    Page& page = pages_[slot];
    page.number = number;
    page.lastUse = clock_;
    page.bytes = std::move(bytes);
    page.readable = readable;
    lastHit_ = slot;
    return &page;
}

bool PageCachedMemory::Read(uint64_t address, void* buffer, uint32_t count) const {
    if (count == 0) return true;
    if (address == 0 || address > UINT64_MAX - (count - 1)) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t at = address;
    const uint64_t end = address + (count - 1);  // inclusive: the last byte may be 2^64 - 1
    while (at <= end) {
        const Page* page = PageOf(at / kPageSize);
        if (!page) return false;
        const uint32_t offset = uint32_t(at % kPageSize);
        const uint32_t n = uint32_t(std::min<uint64_t>(kPageSize - offset, end - at + 1));
        if (page->readable) {
            std::memcpy(out, page->bytes.get() + offset, n);
        } else if (!source_.Read(at, out, n)) {
            // A page that could not be read whole may still hold readable bytes for a source
            // that is not page-granular (a buffer standing for memory): it decides for the part.
            return false;
        }
        out += n;
        if (end - at < n) break;  // the last page of the address space
        at += n;
    }
    return true;
}

}  // namespace tidewell::disasm
