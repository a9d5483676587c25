#include "panel/config_file.h"
#include "support/temp_file.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace veltra {
namespace {

std::string bytesOf(std::initializer_list<int> list) { return std::string(list.begin(), list.end()); }
std::string rec(std::string_view text) { return std::string(1, static_cast<char>(text.size())) + std::string(text); }
std::string wide(std::initializer_list<int> units) {
    std::string out;
    for (int u : units) out += bytesOf({u & 0xFF, u >> 8});
    return out;
}
const std::string kWide = bytesOf({0xFF, 0xFE, 0xFF});

// The panel right after start-up with no controller attached.
PanelState startupState() {
    PanelState s;
    s.shutterPosition = s.syncMode = 1, s.shutterMode = s.triggerMode = 0;
    return s;
}

TEST(ConfigFile, StartupStateIsTheTwentySevenByteFile) {
    const std::string expected = bytesOf({0x01, 0x31, 0x01, 0x30, 0x01, 0x30, 0x01, 0x30, 0x01, 0x31, 0x02, 0x2D, 0x31,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x2D, 0x31, 0x00});
    EXPECT_EQ(encodeConfig(startupState()), expected);

    PanelState s;
    s.repeatText = "€é\u0100";  // Windows-1252 on disk; the last is not in the code page
    const std::string file = encodeConfig(s);
    EXPECT_EQ(std::tuple(file.substr(file.size() - 4), decodeConfig(file)->at(kRecRepeat)), std::tuple(bytesOf({0x03, 0x80, 0xE9, '?'}), "€é?"));
}

TEST(ConfigFile, WritesTheShortestLengthPrefix) {
    const std::pair<std::size_t, std::string> rows[] = {
        {0, bytesOf({0x00})}, {254, bytesOf({0xFE})}, {255, bytesOf({0xFF, 0xFF, 0x00})},
        {0xFFFD, bytesOf({0xFF, 0xFD, 0xFF})}, {0xFFFE, bytesOf({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0})},
        {0x10000, bytesOf({0xFF, 0xFF, 0xFF, 0, 0, 0x01, 0})}};
    for (const auto& [length, prefix] : rows) {
        SCOPED_TRACE(length);
        ConfigRecords r;
        r[kRecRepeat] = std::string(length, 'x');
        EXPECT_EQ(encodeRecords(r), std::string(17, '\0') + prefix + r[kRecRepeat]);
        EXPECT_EQ(decodeConfig(encodeRecords(r)), r);
    }
}

TEST(ConfigFile, ReadsEveryPrefixForm) {
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {bytesOf({0xFF, 0x2C, 0x01}) + std::string(300, 'q'), std::string(300, 'q')},
        {bytesOf({0xFF, 0xFF, 0xFF, 0x03, 0, 0, 0}) + "abc", "abc"},
        {rec("\x80\xE9"), "€é"},
        {kWide + bytesOf({3}) + wide({'c', 0xE9, '5'}), "cé5"},  // the length counts units, not bytes
        {kWide + bytesOf({0xFF, 0xFF, 0xFF, 3, 0, 0, 0}) + wide({'a', 0x0100, 'b'}), "a?b"},
        {kWide + bytesOf({4}) + wide({'x', 0xD83D, 0xDE00, 'y'}), "x?y"},
        {kWide + bytesOf({0xFE, 0xFF, 1}) + wide({'a'}), std::nullopt}};  // marker twice
    for (const auto& [first, text] : rows) {
        SCOPED_TRACE(testing::PrintToString(first));
        const auto r = decodeConfig(first + std::string(17, '\0'));
        ASSERT_EQ(r.has_value(), text.has_value());
        if (!r) continue;
        EXPECT_EQ((*r)[0], *text);
        for (std::size_t k = 1; k < kConfigRecordCount; ++k) EXPECT_EQ((*r)[k], "") << k;
    }
}

TEST(ConfigFile, EveryTruncationFails) {
    // Every prefix form, so the cuts fall inside each kind of prefix.
    std::string mixed = rec("2") + bytesOf({0xFF, 0x2C, 0x01}) + std::string(300, '1') +
                        bytesOf({0xFF, 0xFF, 0xFF, 3, 0, 0, 0}) + "144" + kWide + bytesOf({2}) + wide({'-', '1'}) +
                        kWide + bytesOf({0xFF, 0xFF, 0xFF, 1, 0, 0, 0}) + wide({'1'});
    for (int k = 5; k < 18; ++k) mixed += rec(std::to_string(k));
    for (const std::string& file : {mixed, encodeConfig(startupState())}) {
        ASSERT_TRUE(decodeConfig(file).has_value());
        for (std::size_t n = 0; n < file.size(); ++n)
            EXPECT_FALSE(decodeConfig(std::string_view(file.data(), n)).has_value()) << "cut at " << n;
    }
}

// A file of seventeen records is one of the cuts above.
TEST(ConfigFile, HugeLengthsFailAndTrailingBytesAreIgnored) {
    const std::string file(17, '\0');  // seventeen empty records
    // Lengths far beyond the input fail before anything is allocated.
    for (const std::string& prefix : {bytesOf({0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF}),
                                      kWide + bytesOf({0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0x80})})  // wraps in 32 bits
        EXPECT_FALSE(decodeConfig(file + prefix + "abc").has_value());
    EXPECT_EQ(decodeConfig(file + rec("1") + "garbage\xFF\xFF\xFF"), decodeConfig(file + rec("1")));
}

TEST(ConfigFile, ModeSetsCaptionLabelsAndCycle) {
    const struct { std::string mode, steps, caption, label, cycle; } rows[] = {
        {"2", "144", "Neutral Density - 144", "38.00 ms", "076 : 0"},
        {"0", "0", "Neutral Density", "12 ms", "024 : 0"},
        {"1", "50", "Neutral Density", "70 ms", "140 : 0"},
        {"-1", "9", "before", "before", "024 : 0"},  // texts left as they were
        {"2", "1", "Neutral Density - 1", "0.26 ms", "000 : 6"},
        {"2", "9", "Neutral Density - 9", "2.38 ms", "004 : 8"}};  // 2.375: halves round up
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode + "/" + row.steps);
        ConfigRecords r;
        r[kRecShutterMode] = row.mode, r[kRecNdSteps] = row.steps;
        PanelState s;
        s.ndCaption = s.openingLabel = s.closingLabel = "before";
        applyConfig(s, r);
        EXPECT_EQ(std::tuple(s.ndCaption, s.openingLabel, s.closingLabel, s.cycleLabel),
                  std::tuple(row.caption, row.label, row.label, "Cycle Time  -  00 : 00 : 00 : " + row.cycle));
    }
}

TEST(ConfigFile, NumericRecordsTakeTheLeadingInteger) {
    const std::pair<std::size_t, int PanelState::*> fields[] = {
        {kRecShutterPosition, &PanelState::shutterPosition}, {kRecShutterMode, &PanelState::shutterMode},
        {kRecNdSteps, &PanelState::ndSteps}, {kRecTriggerMode, &PanelState::triggerMode},
        {kRecSyncMode, &PanelState::syncMode}, {kRecTimerSelect, &PanelState::timerSelectIndex},
        {kRecRunningOption, &PanelState::runningOption}};
    const std::pair<std::string, int> texts[] = {{"2abc", 2}, {"", 0}, {" -1", -1}};
    for (const auto& [text, value] : texts)
        for (const auto& [k, unused] : fields) {
            SCOPED_TRACE("\"" + text + "\" in record " + std::to_string(k));
            ConfigRecords r;
            for (const auto& f : fields) r[f.first] = "55";
            r[k] = text;
            PanelState s;
            s.triggerPulseChecked = s.syncPulseChecked = value == -1;  // so that every row flips them
            applyConfig(s, r);
            for (const auto& [j, field] : fields) EXPECT_EQ(s.*field, j == k ? value : 55) << j;
            // The boxes follow records 4 and 5.
            EXPECT_EQ(std::pair(s.triggerPulseChecked, s.syncPulseChecked), std::pair(s.triggerMode != -1, s.syncMode != -1));
        }
}

TEST(ConfigFile, SelectedTimerFillsEditsAndSliders) {
    PanelState saved = startupState();
    saved.delayTime = TimerValue{"1", "2", "3", "4", "5"};
    saved.exposureTime = TimerValue{"2", "30", "45", "1500", "7"};  // 1500 ms: past the slider's end
    saved.repeatText = "Continuous";
    for (const auto& [index, exposure] : {std::pair{"1", true}, {"0", false}, {"7", false}}) {
        SCOPED_TRACE(index);
        ConfigRecords r = configRecords(saved);
        r[kRecTimerSelect] = index;
        PanelState s;
        s.editedTime = TimerValue{"9", "9", "9", "9", "9"};
        applyConfig(s, decodeConfig(encodeRecords(r)).value());
        EXPECT_EQ(std::tuple(s.editedTime, s.sliders), std::tuple(exposure ? saved.exposureTime : saved.delayTime,
                                                                   exposure ? std::array{2, 30, 45, 999, 7} : std::array{1, 2, 3, 4, 5}));
        EXPECT_EQ(std::tuple(s.exposureLabel, s.cycleLabel, s.leftCycleText),
                  std::tuple("02 : 30 : 45 : 1500 : 7", "Cycle Time  -  03 : 32 : 49 : 529 : 2", "Continuous"));
    }
}

// Reading refuses a folder and a file past the limit before reading it all.
TEST(ConfigFile, ReadingRefusesFoldersAndFilesTooLarge) {
    using Status = ConfigFileData::Status;
    const test::TempDir dir;
    EXPECT_EQ(readConfigFile(dir.path.string()).status, Status::kCannotOpen);
    const auto big = dir.path / "big.cfg";  // sparse where it can be, so it costs no disk
    std::ofstream(big, std::ios::binary).close();
    std::filesystem::resize_file(big, kMaxConfigFileSize + 1);
    EXPECT_EQ(readConfigFile(big.string()).status, Status::kTooLarge);
    std::filesystem::resize_file(big, kMaxConfigFileSize);
    EXPECT_EQ(readConfigFile(big.string()).bytes.size(), kMaxConfigFileSize);
}

}  // namespace
}  // namespace veltra
