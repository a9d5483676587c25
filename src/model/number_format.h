#pragma once

#include <string>

namespace veltra {

// Fixed-point text of v with `decimals` digits, an exact half rounded away
// from zero (14.25 -> "14.3"), as the controller's original tools print it;
// the C library would round such a tie to even.
std::string formatFixedHalfUp(double v, int decimals);

}  // namespace veltra
