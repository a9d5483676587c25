#include "model/leading_int.h"

#include <climits>

namespace veltra {

int leadingInt(std::string_view text) {
    std::size_t i = 0;
    // Blanks as the C runtime's strtol/atoi skip them.
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;  // keep going to consume the digits, stay saturated
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace veltra
