// Saving and reading .cfg files on a Windows file system, through the real
// file_replace_win.cpp: replacing, read-only files, a file's attributes,
// folders where a file is expected.
#include "panel/config_file.h"
#include "save_check.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace veltra {
namespace {

namespace fs = std::filesystem;

// The attributes a user sets; the archive attribute is the system's, set when a file changes.
std::string attributesOf(const fs::path& p) {
    return std::to_string(::GetFileAttributesW(p.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
}

TEST(ConfigFileWindows, SavingReplacesKeepsAttributesAndRefusesWhatIsNotAWritableFile) {
    const auto file = [](const char* at, DWORD attributes) {
        return [=](const fs::path& d) {
            std::ofstream(d / at, std::ios::binary) << "old";
            ASSERT_TRUE(::SetFileAttributesW((d / at).c_str(), attributes));
        };
    };
    const auto folder = [](const char* at) { return [=](const fs::path& d) { fs::create_directories(d / at); }; };
    const test::SaveRow rows[] = {
        {"a new file", {}, "new.cfg", nullptr},
        {"a plain file", {file("r.cfg", FILE_ATTRIBUTE_NORMAL)}, "r.cfg", nullptr},
        {"a hidden system file stays so", {file("h.cfg", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)}, "h.cfg", nullptr},
        {"a read-only file", {file("ro.cfg", FILE_ATTRIBUTE_READONLY)}, "ro.cfg", "it is read-only"},
        {"a folder", {folder("x.cfg")}, "x.cfg", "it is a folder, not a regular file"},
        {"a missing folder", {}, "gone\\new.cfg", "cannot create a file in its folder"},
    };
    for (const test::SaveRow& row : rows) test::checkSave(row, attributesOf);
}

}  // namespace
}  // namespace veltra
