// Saving and reading .cfg files on a Windows file system, through the real
// file_replace_win.cpp: replacing, read-only files, a file's attributes,
// folders where a file is expected.
#include "panel/config_file.h"
#include "support/temp_file.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace veltra {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed however the test ends.
struct TempDir {
    const fs::path path = test::uniqueTempPath("veltra-cfg-", "");
    TempDir() { fs::create_directory(path); }
    ~TempDir() {
        for (const auto& e : fs::recursive_directory_iterator(path))
            ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(path);
    }
};

std::string contentsOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The attributes a user sets; the archive attribute is the system's, set when a file changes.
DWORD attributesOf(const fs::path& p) {
    return ::GetFileAttributesW(p.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
}

// Every entry under a folder: its attributes and a file's contents.
using Listing = std::map<std::string, std::pair<DWORD, std::string>>;
Listing listing(const fs::path& dir) {
    Listing out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        out[e.path().lexically_relative(dir).string()] = {attributesOf(e.path()),
                                                          e.is_regular_file() ? contentsOf(e.path()) : ""};
    return out;
}

TEST(ConfigFileWindows, SavingReplacesKeepsAttributesAndRefusesWhatIsNotAWritableFile) {
    const auto file = [](const char* at, DWORD attributes) {
        return [=](const fs::path& d) {
            std::ofstream(d / at, std::ios::binary) << "old";
            ASSERT_TRUE(::SetFileAttributesW((d / at).c_str(), attributes));
        };
    };
    const auto folder = [](const char* at) { return [=](const fs::path& d) { fs::create_directories(d / at); }; };
    const struct Row {
        const char* name;
        std::vector<std::function<void(const fs::path&)>> make;
        const char* saveAs;
        const char* refusal;  // nullptr: saved, all else unchanged
    } rows[] = {
        {"a new file", {}, "new.cfg", nullptr},
        {"a plain file", {file("r.cfg", FILE_ATTRIBUTE_NORMAL)}, "r.cfg", nullptr},
        {"a hidden system file stays so", {file("h.cfg", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)}, "h.cfg", nullptr},
        {"a read-only file", {file("ro.cfg", FILE_ATTRIBUTE_READONLY)}, "ro.cfg", "it is read-only"},
        {"a folder", {folder("x.cfg")}, "x.cfg", "it is a folder, not a regular file"},
        {"a missing folder", {}, "gone\\new.cfg", "cannot create a file in its folder"},
    };
    const std::string bytes = encodeConfig(PanelState{});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        for (const auto& make : row.make) make(dir.path);
        Listing want = listing(dir.path);
        std::string error;
        const fs::path target = dir.path / row.saveAs;
        EXPECT_EQ(writeConfigFileAtomically(target.string(), bytes, error), row.refusal == nullptr) << error;
        if (row.refusal) {
            const std::string start = "Cannot save \"" + target.filename().string() + "\": " + row.refusal;
            EXPECT_TRUE(error.starts_with(start) && error.ends_with(".")) << error;
        } else {
            auto& entry = want[row.saveAs];
            if (entry.second.empty()) entry.first = attributesOf(target);  // a new file: the system's attributes
            entry.second = bytes;
        }
        EXPECT_EQ(listing(dir.path), want) << "a stray file was left, or one went missing or changed";
    }
}

TEST(ConfigFileWindows, ReadingRefusesFoldersAndFilesTooLarge) {
    using Status = ConfigFileData::Status;
    const TempDir dir;
    EXPECT_EQ(readConfigFile(dir.path.string()).status, Status::kCannotOpen);
    const fs::path big = dir.path / "big.cfg";
    std::ofstream(big, std::ios::binary).close();
    fs::resize_file(big, kMaxConfigFileSize + 1);
    EXPECT_EQ(readConfigFile(big.string()).status, Status::kTooLarge);
    fs::resize_file(big, kMaxConfigFileSize);
    EXPECT_EQ(readConfigFile(big.string()).bytes.size(), kMaxConfigFileSize);
}

}  // namespace
}  // namespace veltra
