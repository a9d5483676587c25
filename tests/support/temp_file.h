#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace veltra::test {

// A path in the temporary folder that no other test process picks at the same time.
inline std::filesystem::path uniqueTempPath(const std::string& stem, const std::string& extension) {
    static std::mt19937_64 random{std::random_device{}()};
    return std::filesystem::temp_directory_path() / (stem + std::to_string(random()) + extension);
}

}  // namespace veltra::test
