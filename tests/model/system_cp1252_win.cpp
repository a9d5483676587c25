#include "system_cp1252.h"

#include <windows.h>

namespace veltra::test {

bool systemHasCp1252() { return ::IsValidCodePage(1252) != 0; }

std::optional<std::string> systemCp1252ToUtf8(unsigned char byte) {
    const char in = static_cast<char>(byte);
    wchar_t wide[2] = {};
    const int n = ::MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, &in, 1, wide, 2);
    if (n <= 0) return std::nullopt;
    char out[8] = {};
    const int m = ::WideCharToMultiByte(CP_UTF8, 0, wide, n, out, sizeof out, nullptr, nullptr);
    if (m <= 0) return std::nullopt;
    return std::string(out, static_cast<std::size_t>(m));
}

}  // namespace veltra::test
