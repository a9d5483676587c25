#pragma once

#include <string_view>

namespace veltra {

// Every number the operator types, and every number held as text, is read as
// its leading decimal integer: leading blanks, an optional sign, then digits up
// to the first other character; no digits gives 0. A long run of digits
// saturates at the int range instead of overflowing.
int leadingInt(std::string_view text);

}  // namespace veltra
