#pragma once

namespace veltra {

// COM1 to COM4.
inline constexpr int kPortCount = 4;

}  // namespace veltra
