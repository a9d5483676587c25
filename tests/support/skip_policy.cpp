// Linked into every GoogleTest binary: with CI set in the environment, a case
// that skips fails unless .ci/allowed-skips lists it with a reason. The list
// is VELTRA_ALLOWED_SKIPS when set, else the one of the source tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

// "NAME  reason": the name, two or more blanks (or a tab), the reason. A name
// without a reason allows nothing.
std::map<std::string, std::string> readAllowedSkips(const std::string& path) {
    std::map<std::string, std::string> allowed;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        auto gap = line.find('\t');
        gap = std::min(gap, line.find("  "));
        if (gap == std::string::npos) continue;
        const auto reason = line.find_first_not_of(" \t", gap);
        if (reason != std::string::npos) allowed.emplace(line.substr(0, gap), line.substr(reason));
    }
    return allowed;
}

bool ciIsSet() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

std::string skipMessage(const testing::TestResult& result) {
    for (int i = 0; i < result.total_part_count(); ++i) {
        const auto& part = result.GetTestPartResult(i);
        if (part.skipped()) return part.message();
    }
    return {};
}

class SkipPolicy : public testing::EmptyTestEventListener {
    // GoogleTest tells the end of a case to its listeners last-added first:
    // this one before the result printer, so the case is printed failed.
    void OnTestEnd(const testing::TestInfo& info) override {
        if (!info.result()->Skipped() || !ciIsSet()) return;
        const std::string name = std::string(VELTRA_TEST_BINARY) + "." + info.test_suite_name() + "." + info.name();
        const char* listPath = std::getenv("VELTRA_ALLOWED_SKIPS");
        const std::string path = listPath != nullptr && *listPath != '\0' ? listPath : VELTRA_ALLOWED_SKIPS_FILE;
        if (readAllowedSkips(path).count(name) != 0) return;
        ADD_FAILURE() << name << " skipped (" << skipMessage(*info.result())
                      << ") with CI set, and " << path << " does not list it with a reason";
    }
};

[[maybe_unused]] const bool installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new SkipPolicy);
    return true;
}();

}  // namespace
