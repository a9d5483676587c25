#pragma once

#include <optional>
#include <string>

// The platform's own CP1252 table, to check ours against: the C library's
// iconv on POSIX (system_cp1252_posix.cpp), the system's code page 1252 on
// Windows (system_cp1252_win.cpp).
namespace veltra::test {

bool systemHasCp1252();
// The UTF-8 of `byte` in the system's table; nothing for a byte the code page leaves undefined.
std::optional<std::string> systemCp1252ToUtf8(unsigned char byte);

}  // namespace veltra::test
