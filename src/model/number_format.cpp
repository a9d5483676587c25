#include "model/number_format.h"

#include <cmath>
#include <cstdlib>

namespace veltra {

std::string formatFixedHalfUp(double v, int decimals) {
    long long scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    // A double times a small power of ten is exact in long double, so the
    // tie test sees the true value.
    const long long r = std::llround(static_cast<long double>(v) * scale);
    const long long whole = std::llabs(r) / scale;
    std::string frac = std::to_string(std::llabs(r) % scale);
    frac.insert(0, static_cast<std::size_t>(decimals) - frac.size(), '0');
    std::string out = (r < 0 ? "-" : "") + std::to_string(whole);
    if (decimals > 0) out += "." + frac;
    return out;
}

}  // namespace veltra
