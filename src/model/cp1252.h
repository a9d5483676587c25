#pragma once

#include <string>
#include <string_view>

namespace veltra {

// Texts travel as Windows-1252 bytes on the wire and in .cfg files, and as
// UTF-8 inside the program. These convert at the edge.

// One Windows-1252 byte as UTF-8 (the five unassigned bytes map to the C1
// control of the same value, as the platform does).
std::string cp1252ByteToUtf8(unsigned char byte);
std::string cp1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252; characters the code page lacks, and malformed
// sequences, become '?'.
std::string utf8ToCp1252(std::string_view utf8);

// One UTF-16 code unit sequence (already decoded to code points) to
// Windows-1252 as the platform's wide-to-narrow conversion does: '?' for what
// the code page lacks.
char codePointToCp1252(char32_t cp);

}  // namespace veltra
