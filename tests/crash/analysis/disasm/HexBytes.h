#pragma once
// Bytes as the differential tests print them: two lower-case hex digits each, separated by spaces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tidewell::disasm::test {

inline std::string Bytes(const uint8_t* p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        if (i) s += ' ';
        s += buf;
    }
    return s;
}

}  // namespace tidewell::disasm::test
