#include "panel/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltra {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

std::string bytesOf(std::initializer_list<int> list) {
    std::string out;
    for (int b : list) out.push_back(static_cast<char>(b));
    return out;
}

// One record with a one-byte prefix.
std::string rec(std::string_view text) {
    return std::string(1, static_cast<char>(text.size())) + std::string(text);
}

std::string emptyRecords(std::size_t n) { return std::string(n, '\0'); }

// Test names from the rows' own names.
template <class Row>
std::string rowName(const ::testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

std::string hex(std::string_view s) {
    std::string out;
    char buf[4];
    for (char c : s) {
        std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

// The panel right after start-up with no controller attached.
PanelState startupState() {
    PanelState s;
    s.shutterPosition = 1;
    s.shutterMode = 0;
    s.ndSteps = 0;
    s.triggerMode = 0;
    s.syncMode = 1;
    s.timerSelectIndex = -1;
    s.runningOption = -1;
    return s;
}

TimerValue tv(std::string h, std::string m, std::string s, std::string ms, std::string t) {
    return TimerValue{std::move(h), std::move(m), std::move(s), std::move(ms), std::move(t)};
}

PanelState loaded(const std::string& file) {
    const auto r = decodeConfig(file);
    EXPECT_TRUE(r.has_value()) << hex(file);
    PanelState s;
    if (r) applyConfig(s, *r);
    return s;
}

// ---- the file layout ---------------------------------------------------------

TEST(ConfigFile, StartupStateSavesTheTwentySevenByteFile) {
    const std::string expected = bytesOf({0x01, 0x31, 0x01, 0x30, 0x01, 0x30, 0x01, 0x30, 0x01, 0x31,
                                          0x02, 0x2D, 0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          0x02, 0x2D, 0x31, 0x00});
    ASSERT_EQ(expected.size(), 27u);
    EXPECT_EQ(hex(encodeConfig(startupState())), hex(expected));
}

TEST(ConfigFile, StartupFileLoadsBack) {
    const PanelState s = loaded(encodeConfig(startupState()));
    EXPECT_EQ(s.shutterPosition, 1);
    EXPECT_EQ(s.shutterMode, 0);
    EXPECT_EQ(s.triggerMode, 0);
    EXPECT_TRUE(s.triggerPulseChecked);
    EXPECT_EQ(s.syncMode, 1);
    EXPECT_TRUE(s.syncPulseChecked);
    EXPECT_EQ(s.timerSelectIndex, -1);
    EXPECT_EQ(s.runningOption, -1);
    EXPECT_EQ(s.delayLabel, "00 : 00 : 00 : 000 : 0");
    EXPECT_EQ(s.exposureLabel, "00 : 00 : 00 : 000 : 0");
    EXPECT_EQ(s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : 024 : 0");
    EXPECT_EQ(s.ndCaption, "Neutral Density");
    EXPECT_EQ(s.openingLabel, "12 ms");
    EXPECT_EQ(s.closingLabel, "12 ms");
    EXPECT_EQ(s.repeatText, "");
    EXPECT_EQ(s.leftCycleText, "");
}

TEST(ConfigFile, RecordsAreTheStoredTimesNotTheEdits) {
    PanelState s = startupState();
    s.delayTime = tv("1", "07", "3", "45", "6");
    s.exposureTime = tv("", "2", "", "500", "12ab");
    s.editedTime = tv("4", "4", "4", "4", "4");  // typed but never stored
    s.repeatText = "Continuous";
    s.runningOption = 2;
    const ConfigRecords r = configRecords(s);
    const ConfigRecords expected{"1", "0", "0", "0", "1", "-1", "1", "07", "3", "45", "6",
                                 "", "2", "", "500", "12ab", "2", "Continuous"};
    EXPECT_EQ(r, expected);
    EXPECT_EQ(decodeConfig(encodeConfig(s)), expected);
}

TEST(ConfigFile, TextsAreWindows1252OnDisk) {
    PanelState s = startupState();
    s.repeatText = "€é\u0100";  // the last is not in the code page
    const std::string file = encodeConfig(s);
    EXPECT_EQ(hex(file.substr(file.size() - 4)), hex(bytesOf({0x03, 0x80, 0xE9, '?'})));
    EXPECT_EQ(decodeConfig(file)->at(kRecRepeat), "€é?");
}

struct LengthRow {
    std::size_t length;
    std::string prefix;
};

class EncodedLength : public ::testing::TestWithParam<LengthRow> {};

TEST_P(EncodedLength, UsesTheShortestPrefixAndReadsBack) {
    ConfigRecords r;
    r[kRecRepeat] = std::string(GetParam().length, 'x');
    const std::string file = encodeRecords(r);
    const std::string head = emptyRecords(17);
    ASSERT_EQ(file.size(), head.size() + GetParam().prefix.size() + GetParam().length);
    EXPECT_EQ(hex(file.substr(head.size(), GetParam().prefix.size())), hex(GetParam().prefix));
    EXPECT_EQ(decodeConfig(file), r);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, EncodedLength,
    ::testing::Values(LengthRow{0, bytesOf({0x00})}, LengthRow{1, bytesOf({0x01})},
                      LengthRow{254, bytesOf({0xFE})}, LengthRow{255, bytesOf({0xFF, 0xFF, 0x00})},
                      LengthRow{300, bytesOf({0xFF, 0x2C, 0x01})},
                      LengthRow{0xFFFD, bytesOf({0xFF, 0xFD, 0xFF})},
                      LengthRow{0xFFFE, bytesOf({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
                      LengthRow{0x10000, bytesOf({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00})}));

// ---- reading every prefix form -------------------------------------------------

struct DecodeRow {
    const char* name;
    std::string firstRecord;  // bytes of record 1, the other seventeen are empty
    std::optional<std::string> text;
};

class DecodedRecord : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(DecodedRecord, ReadsTheFirstRecord) {
    const auto r = decodeConfig(GetParam().firstRecord + emptyRecords(17));
    if (!GetParam().text) {
        EXPECT_FALSE(r.has_value());
        return;
    }
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ((*r)[0], *GetParam().text);
    for (std::size_t k = 1; k < kConfigRecordCount; ++k) EXPECT_EQ((*r)[k], "") << k;
}

std::string wide(std::initializer_list<int> units) {
    std::string out;
    for (int u : units) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

const std::string kWide = bytesOf({0xFF, 0xFE, 0xFF});

INSTANTIATE_TEST_SUITE_P(
    Forms, DecodedRecord,
    ::testing::Values(
        DecodeRow{"OneByte", rec("abc"), "abc"},
        DecodeRow{"OneByteEmpty", rec(""), ""},
        DecodeRow{"SixteenBit300", bytesOf({0xFF, 0x2C, 0x01}) + std::string(300, 'q'), std::string(300, 'q')},
        DecodeRow{"SixteenBitShortLength", bytesOf({0xFF, 0x03, 0x00}) + "abc", "abc"},
        DecodeRow{"ThirtyTwoBit", bytesOf({0xFF, 0xFF, 0xFF, 0x03, 0, 0, 0}) + "abc", "abc"},
        DecodeRow{"ThirtyTwoBitLarge", bytesOf({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0}) + std::string(70000, 'z'),
                  std::string(70000, 'z')},
        DecodeRow{"EuroByte", rec("\x80"), "€"},
        DecodeRow{"LatinByte", rec("\xE9t\xE9"), "été"},
        DecodeRow{"UnassignedByte", rec("\x81"), "\u0081"},
        DecodeRow{"EmbeddedNulKept", rec("a\0b"s), "a\0b"s},
        DecodeRow{"WideAscii", kWide + bytesOf({2}) + wide({'h', 'i'}), "hi"},
        DecodeRow{"WideLatin", kWide + bytesOf({3}) + wide({'c', 0xE9, '5'}), "cé5"},
        DecodeRow{"WideEuro", kWide + bytesOf({1}) + wide({0x20AC}), "€"},
        DecodeRow{"WideOutsideCodePage", kWide + bytesOf({3}) + wide({'a', 0x0100, 'b'}), "a?b"},
        DecodeRow{"WideSurrogatePair", kWide + bytesOf({4}) + wide({'x', 0xD83D, 0xDE00, 'y'}), "x?y"},
        DecodeRow{"WideLoneSurrogate", kWide + bytesOf({2}) + wide({0xDC00, 'y'}), "?y"},
        DecodeRow{"WideStopsAtNul", kWide + bytesOf({3}) + wide({'a', 0, 'b'}), "a"},
        DecodeRow{"WideEmpty", kWide + bytesOf({0}), ""},
        DecodeRow{"WideSixteenBitFull",
                  [] {
                      std::string s = kWide + bytesOf({0xFF, 0x2C, 0x01});
                      for (int i = 0; i < 300; ++i) s += wide({0x20AC});
                      return s;
                  }(),
                  [] {
                      std::string s;
                      for (int i = 0; i < 300; ++i) s += "€";
                      return s;
                  }()},
        DecodeRow{"WideThirtyTwoBit", kWide + bytesOf({0xFF, 0xFF, 0xFF, 2, 0, 0, 0}) + wide({'o', 'k'}), "ok"},
        DecodeRow{"WideMarkerTwice", kWide + bytesOf({0xFE, 0xFF, 1}) + wide({'a'}), std::nullopt},
        DecodeRow{"WideOddByteLeft", kWide + bytesOf({1, 'a'}), std::nullopt},
        DecodeRow{"ShortBy1", bytesOf({4}) + "abc", std::nullopt}),
    rowName<DecodeRow>);

TEST(ConfigFile, WideRecordCountsUnitsNotBytes) {
    // Two wide characters take four bytes; the next record starts after them.
    const std::string file = kWide + bytesOf({2}) + wide({'4', '2'}) + rec("7") + emptyRecords(16);
    const auto r = decodeConfig(file);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ((*r)[0], "42");
    EXPECT_EQ((*r)[1], "7");
}

// ---- damaged files -------------------------------------------------------------

// A file using every prefix form, so cuts fall inside each kind of prefix.
std::string mixedFile() {
    std::string f = rec("2") + bytesOf({0xFF, 0x2C, 0x01}) + std::string(300, '1') +
                    bytesOf({0xFF, 0xFF, 0xFF, 3, 0, 0, 0}) + "144" + kWide + bytesOf({2}) + wide({'-', '1'}) +
                    kWide + bytesOf({0xFF, 0xFF, 0xFF, 1, 0, 0, 0}) + wide({'1'});
    for (int k = 5; k < 18; ++k) f += rec(std::to_string(k));
    return f;
}

TEST(ConfigFile, MixedFileDecodes) {
    const auto r = decodeConfig(mixedFile());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ((*r)[0], "2");
    EXPECT_EQ((*r)[1], std::string(300, '1'));
    EXPECT_EQ((*r)[2], "144");
    EXPECT_EQ((*r)[3], "-1");
    EXPECT_EQ((*r)[4], "1");
    EXPECT_EQ((*r)[17], "17");
}

TEST(ConfigFile, EveryTruncationFails) {
    for (const std::string& file : {mixedFile(), encodeConfig(startupState())}) {
        std::size_t lastCount = 0;
        for (std::size_t n = 0; n < file.size(); ++n) {
            const std::string_view cut(file.data(), n);
            EXPECT_FALSE(decodeConfig(cut).has_value()) << "cut at " << n;
            ConfigRecords r;
            const std::size_t count = decodeConfigRecords(cut, r);
            EXPECT_LT(count, kConfigRecordCount);
            EXPECT_GE(count, lastCount) << "cut at " << n;
            lastCount = count;
        }
        EXPECT_TRUE(decodeConfig(file).has_value());
    }
}

TEST(ConfigFile, CountsCompleteRecordsBeforeTheCut) {
    const std::string file = rec("1") + rec("2") + rec("3456");
    ConfigRecords r;
    EXPECT_EQ(decodeConfigRecords(file.substr(0, 4), r), 2u);
    EXPECT_EQ(r[1], "2");
    EXPECT_EQ(r[2], "");  // cut short: left empty
    EXPECT_EQ(decodeConfigRecords(file, r), 3u);
    EXPECT_EQ(r[2], "3456");
}

TEST(ConfigFile, SeventeenRecordsFail) {
    std::string file;
    for (int k = 0; k < 17; ++k) file += rec("1");
    EXPECT_FALSE(decodeConfig(file).has_value());
    EXPECT_TRUE(decodeConfig(file + rec("1")).has_value());
}

TEST(ConfigFile, TrailingBytesAreIgnored) {
    const std::string file = encodeConfig(startupState());
    EXPECT_EQ(decodeConfig(file + "garbage\xFF\xFF\xFF"), decodeConfig(file));
}

struct HugeRow {
    const char* name;
    std::string prefix;
};

class HugeLength : public ::testing::TestWithParam<HugeRow> {};

// Lengths far beyond the input fail before anything is allocated (the
// sanitizer build would report an allocation of that size).
TEST_P(HugeLength, FailsWithoutAllocating) {
    EXPECT_FALSE(decodeConfig(rec("1") + GetParam().prefix + "abc" + emptyRecords(16)).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, HugeLength,
    ::testing::Values(HugeRow{"Narrow32Bit", bytesOf({0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF})},
                      HugeRow{"NarrowMax", bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
                      HugeRow{"Narrow16Bit", bytesOf({0xFF, 0xFD, 0xFF})},
                      HugeRow{"WideWrapsIn32Bits", bytesOf({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0x80})},
                      HugeRow{"WideMax", bytesOf({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}),
    rowName<HugeRow>);

// ---- loading into the panel ------------------------------------------------------

TEST(ConfigFile, NeutralDensityRoundTrip) {
    PanelState saved = startupState();
    saved.shutterMode = 2;
    saved.ndSteps = 144;
    const PanelState s = loaded(encodeConfig(saved));
    EXPECT_EQ(s.shutterMode, 2);
    EXPECT_EQ(s.ndSteps, 144);
    EXPECT_EQ(s.ndCaption, "Neutral Density - 144");
    EXPECT_EQ(s.openingLabel, "38.00 ms");
    EXPECT_EQ(s.closingLabel, "38.00 ms");
    EXPECT_EQ(s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : 076 : 0");
}

struct ModeRow {
    std::string mode;
    std::string steps;
    std::string caption;
    std::string label;
    std::string cycle;  // milliseconds and tenths of the cycle label, both timers empty
};

class LoadedMode : public ::testing::TestWithParam<ModeRow> {};

TEST_P(LoadedMode, SetsCaptionLabelsAndAllowance) {
    ConfigRecords r;
    r[kRecShutterMode] = GetParam().mode;
    r[kRecNdSteps] = GetParam().steps;
    PanelState s;
    s.ndCaption = "before";
    s.openingLabel = s.closingLabel = "before";
    applyConfig(s, r);
    EXPECT_EQ(s.ndCaption, GetParam().caption);
    EXPECT_EQ(s.openingLabel, GetParam().label);
    EXPECT_EQ(s.closingLabel, GetParam().label);
    EXPECT_EQ(s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : " + GetParam().cycle);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LoadedMode,
    ::testing::Values(ModeRow{"0", "0", "Neutral Density", "12 ms", "024 : 0"},
                      ModeRow{"1", "50", "Neutral Density", "70 ms", "140 : 0"},
                      ModeRow{"7", "50", "Neutral Density", "12 ms", "024 : 0"},
                      ModeRow{"", "", "Neutral Density", "12 ms", "024 : 0"},
                      // -1 leaves the mode texts as they were, and gives the Fast allowance.
                      ModeRow{"-1", "9", "before", "before", "024 : 0"},
                      ModeRow{"2", "1", "Neutral Density - 1", "0.26 ms", "000 : 6"},
                      ModeRow{"2", "15", "Neutral Density - 15", "3.96 ms", "008 : 0"},
                      // 9 and 27 steps give 2.375 and 7.125 ms exactly: halves round up.
                      ModeRow{"2", "9", "Neutral Density - 9", "2.38 ms", "004 : 8"},
                      ModeRow{"2", "27", "Neutral Density - 27", "7.13 ms", "014 : 2"},
                      ModeRow{"2", "72", "Neutral Density - 72", "19.00 ms", "038 : 0"},
                      ModeRow{"2", "0", "Neutral Density - 0", "0.00 ms", "000 : 0"},
                      ModeRow{"2", "288", "Neutral Density - 288", "76.00 ms", "152 : 0"},
                      ModeRow{"2x", " 144 steps", "Neutral Density - 144", "38.00 ms", "076 : 0"}));

struct IntRow {
    std::string text;
    int value;
};

class LeadingIntRecord : public ::testing::TestWithParam<IntRow> {};

TEST_P(LeadingIntRecord, NumericRecordsTakeTheLeadingInteger) {
    for (std::size_t k : {kRecShutterPosition, kRecShutterMode, kRecNdSteps, kRecTriggerMode, kRecSyncMode,
                          kRecTimerSelect, kRecRunningOption}) {
        ConfigRecords r;
        for (std::size_t j : {kRecShutterPosition, kRecShutterMode, kRecNdSteps, kRecTriggerMode, kRecSyncMode,
                              kRecTimerSelect, kRecRunningOption})
            r[j] = "55";
        r[k] = GetParam().text;
        PanelState s;
        applyConfig(s, r);
        const int v = GetParam().value;
        EXPECT_EQ(s.shutterPosition, k == kRecShutterPosition ? v : 55) << k;
        EXPECT_EQ(s.shutterMode, k == kRecShutterMode ? v : 55) << k;
        EXPECT_EQ(s.ndSteps, k == kRecNdSteps ? v : 55) << k;
        EXPECT_EQ(s.triggerMode, k == kRecTriggerMode ? v : 55) << k;
        EXPECT_EQ(s.syncMode, k == kRecSyncMode ? v : 55) << k;
        EXPECT_EQ(s.timerSelectIndex, k == kRecTimerSelect ? v : 55) << k;
        EXPECT_EQ(s.runningOption, k == kRecRunningOption ? v : 55) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingIntRecord,
                         ::testing::Values(IntRow{"2abc", 2}, IntRow{"", 0}, IntRow{"abc", 0}, IntRow{"  -1", -1},
                                           IntRow{"+3x", 3}, IntRow{"007", 7}, IntRow{"99999999999", 2147483647}));

struct CheckRow {
    std::string trigger;
    std::string sync;
    bool triggerChecked;
    bool syncChecked;
};

class LoadedChecks : public ::testing::TestWithParam<CheckRow> {};

TEST_P(LoadedChecks, PulseBoxesFollowTheModes) {
    for (bool before : {false, true}) {
        ConfigRecords r;
        r[kRecTriggerMode] = GetParam().trigger;
        r[kRecSyncMode] = GetParam().sync;
        PanelState s;
        s.triggerPulseChecked = s.syncPulseChecked = before;
        applyConfig(s, r);
        EXPECT_EQ(s.triggerPulseChecked, GetParam().triggerChecked);
        EXPECT_EQ(s.syncPulseChecked, GetParam().syncChecked);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LoadedChecks,
                         ::testing::Values(CheckRow{"-1", "-1", false, false}, CheckRow{"0", "1", true, true},
                                           CheckRow{"3", "-1", true, false}, CheckRow{"", "", true, true},
                                           CheckRow{"-2", "5", true, true}));

struct SelectRow {
    std::string index;
    int expected;
    bool exposure;
};

class LoadedSelection : public ::testing::TestWithParam<SelectRow> {};

TEST_P(LoadedSelection, ShowsTheSelectedTimerInEditsAndSliders) {
    PanelState saved = startupState();
    saved.delayTime = tv("1", "2", "3", "4", "5");
    saved.exposureTime = tv("2", "30", "45", "1500", "7");
    ConfigRecords r = configRecords(saved);
    r[kRecTimerSelect] = GetParam().index;
    PanelState s;
    s.editedTime = tv("9", "9", "9", "9", "9");
    applyConfig(s, *decodeConfig(encodeRecords(r)));
    EXPECT_EQ(s.timerSelectIndex, GetParam().expected);
    if (GetParam().exposure) {
        EXPECT_EQ(s.editedTime, saved.exposureTime);
        EXPECT_EQ(s.sliders, (std::array<int, 5>{2, 30, 45, 999, 7}));  // the slider stops at its end
    } else {
        EXPECT_EQ(s.editedTime, saved.delayTime);
        EXPECT_EQ(s.sliders, (std::array<int, 5>{1, 2, 3, 4, 5}));
    }
    // Both stored values and their labels come from the file whatever is selected.
    EXPECT_EQ(s.delayTime, saved.delayTime);
    EXPECT_EQ(s.exposureTime, saved.exposureTime);
    EXPECT_EQ(s.delayLabel, "01 : 02 : 03 : 004 : 5");
    EXPECT_EQ(s.exposureLabel, "02 : 30 : 45 : 1500 : 7");
    // tenths 12: 2 carry 1; 1500 + 4 + 24 + 1 = 1529 ms: 529 carry 1; 45 + 3 + 1 = 49 s; 32 min; 3 h.
    EXPECT_EQ(s.cycleLabel, "Cycle Time  -  03 : 32 : 49 : 529 : 2");
}

INSTANTIATE_TEST_SUITE_P(Indexes, LoadedSelection,
                         ::testing::Values(SelectRow{"1", 1, true}, SelectRow{"0", 0, false},
                                           SelectRow{"2", 2, false}, SelectRow{"-1", -1, false},
                                           SelectRow{"7", 7, false}, SelectRow{"1st", 1, true}));

TEST(ConfigFile, TimeTextsAndRepeatAreKeptAsWritten) {
    ConfigRecords r;
    r[kRecDelayFirst + kMinutes] = "07";
    r[kRecDelayFirst + kMilliseconds] = "5";
    r[kRecExposureFirst + kSeconds] = "12ab";
    r[kRecRepeat] = "Continuous";
    r[kRecRunningOption] = "2";
    PanelState s;
    applyConfig(s, r);
    EXPECT_EQ(s.delayTime.minutes, "07");
    EXPECT_EQ(s.delayLabel, "00 : 007 : 00 : 005 : 0");
    EXPECT_EQ(s.exposureTime.seconds, "12ab");
    EXPECT_EQ(s.exposureLabel, "00 : 00 : 12ab : 000 : 0");
    EXPECT_EQ(s.repeatText, "Continuous");
    EXPECT_EQ(s.leftCycleText, "Continuous");
    EXPECT_EQ(s.runningOption, 2);
    EXPECT_EQ(configRecords(s)[kRecDelayFirst + kMinutes], "07");
}

TEST(ConfigFile, PastEndMessage) {
    EXPECT_EQ(pastEndMessage("/home/op/configs/lab 2.cfg"),
              "An attempt was made to access lab 2.cfg past its end.");
    EXPECT_EQ(pastEndMessage("plain.cfg"), "An attempt was made to access plain.cfg past its end.");
    EXPECT_EQ(pastEndMessage(""), "An attempt was made to access an unnamed file past its end.");
}

// ---- files on disk -------------------------------------------------------------------

class ConfigFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "veltra-cfg-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }

    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void put(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    std::vector<std::string> entries(const fs::path& dir) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
};

TEST_F(ConfigFileOnDisk, WritesANewFile) {
    const fs::path p = m_dir / "new.cfg";
    std::string error;
    const std::string bytes = encodeConfig(startupState());
    ASSERT_TRUE(writeConfigFileAtomically(p.string(), bytes, error)) << error;
    EXPECT_EQ(slurp(p), bytes);
    EXPECT_EQ(entries(m_dir), std::vector<std::string>{"new.cfg"});
    const ConfigFileData d = readConfigFile(p.string());
    ASSERT_TRUE(d.ok()) << d.error;
    EXPECT_EQ(d.bytes, bytes);
}

TEST_F(ConfigFileOnDisk, ReplacesAnExistingFileAndKeepsItsPermissions) {
    const fs::path p = m_dir / "old.cfg";
    put(p, std::string(1000, 'o'));
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    std::string error;
    ASSERT_TRUE(writeConfigFileAtomically(p.string(), "new", error)) << error;
    EXPECT_EQ(slurp(p), "new");
    EXPECT_EQ(fs::status(p).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entries(m_dir), std::vector<std::string>{"old.cfg"});
}

TEST_F(ConfigFileOnDisk, WritesThroughASymbolicLink) {
    fs::create_directory(m_dir / "real");
    put(m_dir / "real" / "a.cfg", "old");
    fs::create_symlink("real/a.cfg", m_dir / "link.cfg");
    std::string error;
    ASSERT_TRUE(writeConfigFileAtomically((m_dir / "link.cfg").string(), "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(m_dir / "link.cfg"));
    EXPECT_EQ(slurp(m_dir / "real" / "a.cfg"), "new");
}

TEST_F(ConfigFileOnDisk, PathThatIsADirectoryFailsAndLeavesItAlone) {
    const fs::path p = m_dir / "taken.cfg";
    fs::create_directory(p);
    put(p / "inside", "keep");
    std::string error;
    EXPECT_FALSE(writeConfigFileAtomically(p.string(), "new", error));
    EXPECT_NE(error.find("taken.cfg"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(p));
    EXPECT_EQ(slurp(p / "inside"), "keep");
    EXPECT_EQ(entries(m_dir), std::vector<std::string>{"taken.cfg"});
    EXPECT_EQ(entries(p), std::vector<std::string>{"inside"});
}

TEST_F(ConfigFileOnDisk, MissingFolderFails) {
    std::string error;
    EXPECT_FALSE(writeConfigFileAtomically((m_dir / "nowhere" / "a.cfg").string(), "x", error));
    EXPECT_NE(error.find("a.cfg"), std::string::npos) << error;
}

TEST_F(ConfigFileOnDisk, ReadOnlyFolderFailsAndKeepsTheOldFile) {
    const fs::path p = m_dir / "kept.cfg";
    put(p, "old");
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    // A privileged user may write anyway; then there is nothing to test here.
    const int probe = ::open((m_dir / "probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (probe >= 0) {
        ::close(probe);
        ::unlink((m_dir / "probe").c_str());
        GTEST_SKIP() << "folder permissions are not enforced for this user";
    }
    std::string error;
    EXPECT_FALSE(writeConfigFileAtomically(p.string(), "new", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(slurp(p), "old");
    EXPECT_EQ(entries(m_dir), std::vector<std::string>{"kept.cfg"});
}

// Writing stops part way (file size limit): the old file must survive whole.
TEST_F(ConfigFileOnDisk, FailureHalfwayKeepsTheOldFile) {
    const fs::path p = m_dir / "kept.cfg";
    put(p, "old contents");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool ok = writeConfigFileAtomically(p.string(), std::string(100000, 'n'), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("kept.cfg"), std::string::npos) << error;
    EXPECT_EQ(slurp(p), "old contents");
    EXPECT_EQ(entries(m_dir), std::vector<std::string>{"kept.cfg"});
}

TEST_F(ConfigFileOnDisk, ReadFailures) {
    EXPECT_EQ(readConfigFile((m_dir / "missing.cfg").string()).status, ConfigFileData::Status::kCannotOpen);
    EXPECT_EQ(readConfigFile(m_dir.string()).status, ConfigFileData::Status::kCannotOpen);

    // A FIFO must not block the open.
    const fs::path fifo = m_dir / "fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readConfigFile(fifo.string()).status, ConfigFileData::Status::kCannotOpen);

    // Sparse, so the test costs no disk.
    const fs::path big = m_dir / "big.cfg";
    put(big, "");
    fs::resize_file(big, kMaxConfigFileSize + 1);
    const ConfigFileData d = readConfigFile(big.string());
    EXPECT_EQ(d.status, ConfigFileData::Status::kTooLarge);
    EXPECT_TRUE(d.bytes.empty());
    EXPECT_NE(d.error.find("big.cfg"), std::string::npos) << d.error;

    fs::resize_file(big, kMaxConfigFileSize);
    const ConfigFileData atLimit = readConfigFile(big.string());
    EXPECT_TRUE(atLimit.ok()) << atLimit.error;
    EXPECT_EQ(atLimit.bytes.size(), kMaxConfigFileSize);
}

}  // namespace
}  // namespace veltra
