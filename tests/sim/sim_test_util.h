#pragma once

#include "sim/sim_controller.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace veltra::simtest {

using Bytes = std::vector<std::uint8_t>;

// "FA 21 02" -> {0xFA, 0x21, 0x02}
inline Bytes hx(std::string_view text) {
    Bytes out;
    unsigned v = 0;
    int digits = 0;
    for (const char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (d < 0) continue;
        v = v * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            out.push_back(static_cast<std::uint8_t>(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

inline std::string hexText(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!s.empty()) s.push_back(' ');
        s += buf;
    }
    return s;
}

inline Bytes concat(const std::vector<SimOutput>& outs) {
    Bytes all;
    for (const SimOutput& o : outs) all.insert(all.end(), o.bytes.begin(), o.bytes.end());
    return all;
}

inline constexpr SimTime ms(long long v) { return SimTime{v * 1000}; }

}  // namespace veltra::simtest
