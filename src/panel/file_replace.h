#pragma once

// The panel's file access, one implementation per platform:
// file_replace_posix.cpp, file_replace_win.cpp.

#include <cstdint>
#include <string>
#include <string_view>

namespace veltra {

// Puts `bytes` into the file at `path` in one step: they go to a new file in
// the same folder, are flushed to disk and then take the old file's place, so
// a failure at any point leaves the old file whole and no stray file behind.
// Returns an empty text on success, else why nothing was saved (lower case,
// no closing full stop, e.g. "it is read-only").
//
// - A symbolic link at `path` is followed, link by link, and the file it leads
//   to is written; the links stay. A link that leads to a missing file in an
//   existing folder creates that file.
// - Refused, with nothing changed: links that go round in a loop; a target
//   that exists and is not a regular file (folder, FIFO, device, socket); an
//   existing file the user may not write. A file with no write permission for
//   anyone counts as read-only even for a user the system would let write it
//   (root): the file's owner made it so on purpose.
// - A replaced file keeps its permissions and, where the process may set
//   them, its owner and group. A new file gets the platform's defaults.
//
std::string replaceFile(const std::string& path, std::string_view bytes);

// The file's name without its folders ('/' on POSIX; '/' or '\\' on Windows).
std::string fileBaseName(const std::string& path);

// What reading a whole file gave.
struct FileRead {
    enum class Failure { None, CannotOpen, TooLarge, ReadError };
    Failure failure = Failure::None;
    std::string bytes;   // the whole file when failure is None
    std::string reason;  // why not, from the system (lower case), else empty
};
// Reads the regular file at `path` whole; anything else (a FIFO named by
// mistake, a device, a folder) is refused without blocking. More than
// `limit` bytes is TooLarge, also when the file grows while it is read.
FileRead readRegularFile(const std::string& path, std::uint64_t limit);

}  // namespace veltra
