#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace veltra::test {

// A path in the temporary folder that no other test process picks at the same time.
inline std::filesystem::path uniqueTempPath(const std::string& stem, const std::string& extension) {
    static std::mt19937_64 random{std::random_device{}()};
    return std::filesystem::temp_directory_path() / (stem + std::to_string(random()) + extension);
}

// A fresh folder, removed however the test ends (read-only files in it too).
struct TempDir {
    const std::filesystem::path path = uniqueTempPath("veltra-dir-", "");
    TempDir() { std::filesystem::create_directory(path); }
    ~TempDir() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        for (const auto& e : fs::recursive_directory_iterator(path, ignored))
            if (e.is_regular_file(ignored)) fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
};

inline std::string contentsOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace veltra::test
