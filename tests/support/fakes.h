#pragma once

#include "panel/prompter.h"
#include "protocol/command_sink.h"

#include <deque>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace veltra::test {

// "CC AA 0D" as byte values.
inline std::vector<int> bytes(const std::string& hex) {
    std::istringstream in(hex);
    std::vector<int> out;
    std::string b;
    while (in >> b) out.push_back(std::stoi(b, nullptr, 16));
    return out;
}

// Records every command with its port; ports in `closed` refuse.
struct RecordingSink : CommandSink {
    struct Sent { int port; std::string hex; };
    std::vector<Sent> sent;
    std::set<int> closed;

    bool send(int port, const Command& c) override { return !closed.count(port) && (sent.push_back({port, toHex(c)}), true); }
    std::vector<std::string> hex() const {
        std::vector<std::string> out;
        for (const auto& s : sent) out.push_back(s.hex);
        return out;
    }
    std::string last() const { return sent.empty() ? std::string() : sent.back().hex; }
};

// Answers the panel's questions from a script and records what it was told.
struct ScriptedPrompter : Prompter {
    std::vector<std::string> warnings, confirms, errors;
    bool confirmAnswer = true;
    std::deque<std::optional<std::string>> ndAnswers;
    std::optional<std::string> file;

    void warning(const std::string& text) override { warnings.push_back(text); }
    bool confirm(const std::string& text) override { return confirms.push_back(text), confirmAnswer; }
    std::optional<std::string> askNdSteps() override {
        if (ndAnswers.empty()) return std::nullopt;
        const auto a = ndAnswers.front();
        return ndAnswers.pop_front(), a;
    }
    std::optional<std::string> chooseConfigFile(bool) override { return file; }
    void error(const std::string&, const std::string& text) override { errors.push_back(text); }
};

}  // namespace veltra::test
