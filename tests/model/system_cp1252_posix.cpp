#include "system_cp1252.h"

#include <iconv.h>

namespace veltra::test {

namespace {

const iconv_t kNoTable = reinterpret_cast<iconv_t>(-1);

}  // namespace

bool systemHasCp1252() {
    const iconv_t cd = ::iconv_open("UTF-8", "CP1252");
    if (cd == kNoTable) return false;
    ::iconv_close(cd);
    return true;
}

std::optional<std::string> systemCp1252ToUtf8(unsigned char byte) {
    const iconv_t cd = ::iconv_open("UTF-8", "CP1252");
    if (cd == kNoTable) return std::nullopt;
    char in[1] = {static_cast<char>(byte)}, out[8] = {};
    char *from = in, *to = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    const bool defined = ::iconv(cd, &from, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (!defined) return std::nullopt;
    return std::string(out, to);
}

}  // namespace veltra::test
