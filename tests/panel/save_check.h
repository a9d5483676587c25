#pragma once
// What the .cfg disk tests of each platform share: a listing of everything in
// a folder, and one save checked against it.
#include "panel/config_file.h"
#include "support/temp_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace veltra::test {

namespace fs = std::filesystem;

// Every entry under a folder: what `meta` says of it (type, rights, owner,
// attributes), and a file's contents or a link's target.
using Meta = std::function<std::string(const fs::path&)>;
using Listing = std::map<std::string, std::pair<std::string, std::string>>;
inline Listing listing(const fs::path& dir, const Meta& meta) {
    Listing out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        std::string text;
        if (e.is_symlink()) {
            text = fs::read_symlink(e.path()).string();
        } else if (e.is_regular_file()) {
            const fs::perms perms = e.status().permissions();
            const bool unreadable = (perms & fs::perms::owner_read) == fs::perms::none;  // a write-only file
            if (unreadable) fs::permissions(e.path(), fs::perms::owner_read, fs::perm_options::add);
            text = contentsOf(e.path());
            if (unreadable) fs::permissions(e.path(), perms);
        }
        out[e.path().lexically_relative(dir).string()] = {meta(e.path()), text};
    }
    return out;
}

struct SaveRow {
    const char* name;
    std::vector<std::function<void(const fs::path&)>> make;  // the folder before the save
    const char* saveAs;
    const char* refusal;            // nullptr: saved into `written`, all else unchanged
    const char* written = nullptr;  // nullptr: saveAs
    bool needsRoot = false;
};

inline void checkSave(const SaveRow& row, const Meta& meta) {
    SCOPED_TRACE(row.name);
    const TempDir dir;
    for (const auto& make : row.make) make(dir.path);
    Listing want = listing(dir.path, meta);
    const std::string bytes = encodeConfig(PanelState{});
    const fs::path target = dir.path / row.saveAs;
    std::string error;
    EXPECT_EQ(writeConfigFileAtomically(target.string(), bytes, error), row.refusal == nullptr) << error;
    const Listing after = listing(dir.path, meta);
    if (row.refusal) {
        const std::string start = "Cannot save \"" + target.filename().string() + "\": " + row.refusal;
        EXPECT_TRUE(error.starts_with(start) && error.ends_with(".")) << error;
    } else {
        const std::string written = row.written ? row.written : row.saveAs;
        auto& w = want[written];
        if (!after.contains(written)) ADD_FAILURE() << "nothing written";
        else if (w.second.empty()) w.first = after.at(written).first;  // a new file: its own rights
        w.second = bytes;
    }
    EXPECT_EQ(after, want) << "a stray file was left, or one went missing or changed";
}

}  // namespace veltra::test
