#include "panel/config_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <tuple>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veltra {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

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
    s.shutterPosition = s.syncMode = 1;
    s.shutterMode = s.triggerMode = 0;
    return s;
}

TEST(ConfigFile, StartupStateIsTheTwentySevenByteFile) {
    const std::string expected = bytesOf({0x01, 0x31, 0x01, 0x30, 0x01, 0x30, 0x01, 0x30, 0x01, 0x31, 0x02, 0x2D, 0x31,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x2D, 0x31, 0x00});
    EXPECT_EQ(encodeConfig(startupState()), expected);

    PanelState s;
    s.repeatText = "€é\u0100";  // Windows-1252 on disk; the last is not in the code page
    const std::string file = encodeConfig(s);
    EXPECT_EQ(file.substr(file.size() - 4), bytesOf({0x03, 0x80, 0xE9, '?'}));
    EXPECT_EQ(decodeConfig(file)->at(kRecRepeat), "€é?");
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
        r[kRecShutterMode] = row.mode;
        r[kRecNdSteps] = row.steps;
        PanelState s;
        s.ndCaption = s.openingLabel = s.closingLabel = "before";
        applyConfig(s, r);
        EXPECT_EQ(std::tie(s.ndCaption, s.openingLabel, s.closingLabel), std::tie(row.caption, row.label, row.label));
        EXPECT_EQ(s.cycleLabel, "Cycle Time  -  00 : 00 : 00 : " + row.cycle);
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
            EXPECT_EQ(s.triggerPulseChecked, s.triggerMode != -1);  // the boxes follow records 4 and 5
            EXPECT_EQ(s.syncPulseChecked, s.syncMode != -1);
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
        EXPECT_EQ(s.editedTime, exposure ? saved.exposureTime : saved.delayTime);
        EXPECT_EQ(s.sliders, (exposure ? std::array{2, 30, 45, 999, 7} : std::array{1, 2, 3, 4, 5}));
        EXPECT_EQ(s.exposureLabel, "02 : 30 : 45 : 1500 : 7");
        EXPECT_EQ(s.cycleLabel, "Cycle Time  -  03 : 32 : 49 : 529 : 2");
        EXPECT_EQ(s.leftCycleText, "Continuous");
    }
}

// A fresh folder per test process, removed however the test ends.
struct TempDir {
    const fs::path path = fs::temp_directory_path() / ("veltra-cfg-" + std::to_string(::getpid()));
    TempDir() { fs::remove_all(path); fs::create_directory(path); }
    ~TempDir() { fs::remove_all(path); }
};

std::string contentsOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void makeFile(const fs::path& p, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    std::ofstream(p, std::ios::binary) << "old";
    fs::permissions(p, perms);
}

// Every entry under a folder: its type, rights, owner and group, and a file's
// contents or a link's target.
using Entry = std::tuple<int, int, std::string, std::string>;
using Listing = std::map<std::string, Entry>;
Listing listing(const fs::path& dir) {
    Listing out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const fs::file_status st = fs::symlink_status(e.path());
        std::string text = st.type() == fs::file_type::symlink ? fs::read_symlink(e.path()).string() : "";
        if (st.type() == fs::file_type::regular) {
            fs::permissions(e.path(), fs::perms::owner_read, fs::perm_options::add);  // a write-only file
            text = contentsOf(e.path());
            fs::permissions(e.path(), st.permissions());
        }
        struct stat owner {};
        ::lstat(e.path().c_str(), &owner);
        out[e.path().lexically_relative(dir).string()] = {static_cast<int>(st.type()), static_cast<int>(st.permissions()),
                                                     std::to_string(owner.st_uid) + ":" + std::to_string(owner.st_gid), text};
    }
    return out;
}

TEST(ConfigFile, FilesOnDisk) {
    const TempDir dir;
    const fs::path p = dir.path / "kept.cfg";
    makeFile(p);
    const Listing before = listing(dir.path);

    // Writing stops part way at a file size limit: the old file must survive whole.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlimit small{4096, saved.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool ok = writeConfigFileAtomically(p.string(), std::string(100000, 'n'), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("kept.cfg"), std::string::npos) << error;
    EXPECT_EQ(listing(dir.path), before);

    using Status = ConfigFileData::Status;
    EXPECT_EQ(readConfigFile(dir.path.string()).status, Status::kCannotOpen);
    ASSERT_EQ(::mkfifo((dir.path / "fifo.cfg").c_str(), 0600), 0);  // must not block the open
    EXPECT_EQ(readConfigFile((dir.path / "fifo.cfg").string()).status, Status::kCannotOpen);
    const fs::path big = dir.path / "big.cfg";  // sparse, so it costs no disk
    std::ofstream(big, std::ios::binary).close();
    fs::resize_file(big, kMaxConfigFileSize + 1);
    EXPECT_EQ(readConfigFile(big.string()).status, Status::kTooLarge);
    fs::resize_file(big, kMaxConfigFileSize);
    EXPECT_EQ(readConfigFile(big.string()).bytes.size(), kMaxConfigFileSize);
}

// Saving writes through links, refuses what is not a regular file or what the
// user made read-only, and keeps a replaced file's rights. A file with no
// write bit for anyone is refused even for root, whom the system would let
// write it: its owner made it read-only on purpose.
TEST(ConfigFile, SavingWritesThroughLinksKeepsRightsAndRefusesWhatIsNotAWritableFile) {
    using P = fs::perms;
    const auto link = [](const char* to, const char* at) {
        return [=](const fs::path& d) { fs::create_symlink(to, d / at); };
    };
    const auto fifo = [](const char* at) {
        return [=](const fs::path& d) { ASSERT_EQ(::mkfifo((d / at).c_str(), 0600), 0); };
    };
    const auto device = [](const char* at) {  // what /dev/null is, in our own folder
        return [=](const fs::path& d) { ASSERT_EQ(::mknod((d / at).c_str(), S_IFCHR | 0666, makedev(1, 3)), 0); };
    };
    const auto file = [](const char* at, P perms) { return [=](const fs::path& d) { makeFile(d / at, perms); }; };
    const auto folder = [](const char* at) { return [=](const fs::path& d) { fs::create_directories(d / at); }; };
    const auto theirs = [](const char* at) { return [=](const fs::path& d) { ASSERT_EQ(::chown((d / at).c_str(), kNobody, kNobody), 0); }; };
    const char* loop = "its symbolic links go round in a loop";
    const struct Row {
        const char* name;
        std::vector<std::function<void(const fs::path&)>> make;
        const char* saveAs;
        const char* refusal;  // nullptr: saved into `written`, all else unchanged
        const char* written;
        bool needsRoot = false;
    } rows[] = {
        {"dangling link into a folder", {folder("sub"), link("sub/new.cfg", "d.cfg")}, "d.cfg", nullptr, "sub/new.cfg"},
        {"dangling link into a missing folder", {link("gone/new.cfg", "d.cfg")}, "d.cfg",
         "cannot create a file in its folder", nullptr},
        {"link loop", {link("b.cfg", "a.cfg"), link("a.cfg", "b.cfg")}, "a.cfg", loop, nullptr},
        {"link to itself", {link("l.cfg", "l.cfg")}, "l.cfg", loop, nullptr},
        {"relative links across folders",
         {folder("a"), folder("b"), file("b/f.cfg", P::owner_read | P::owner_write), link("../b/l2", "a/l1"),
          link("f.cfg", "b/l2")},
         "a/l1", nullptr, "b/f.cfg"},
        {"FIFO", {fifo("f.cfg")}, "f.cfg", "it is a named pipe, not a regular file", nullptr},
        {"link to a FIFO", {fifo("p"), link("p", "l.cfg")}, "l.cfg", "it links to a named pipe, not a regular file",
         nullptr},
        {"folder", {folder("x.cfg")}, "x.cfg", "it is a folder, not a regular file", nullptr},
        {"device node", {device("null")}, "null", "it is a device, not a regular file", nullptr, true},
        {"link to a device node", {device("null"), link("null", "n.cfg")}, "n.cfg",
         "it links to a device, not a regular file", nullptr, true},
        {"0444", {file("r.cfg", P::owner_read | P::group_read | P::others_read)}, "r.cfg", "it is read-only", nullptr},
        {"0600", {file("r.cfg", P::owner_read | P::owner_write)}, "r.cfg", nullptr, "r.cfg"},
        {"0640", {file("r.cfg", P::owner_read | P::owner_write | P::group_read)}, "r.cfg", nullptr, "r.cfg"},
        {"0200", {file("r.cfg", P::owner_write)}, "r.cfg", nullptr, "r.cfg"},
        // Someone may write it; the owner would need root.
        {"0420", {file("r.cfg", P::group_write | P::owner_read)}, "r.cfg", nullptr, "r.cfg", true},
        {"another user's file keeps its owner and group", {file("r.cfg", P::owner_read | P::owner_write), theirs("r.cfg")},
         "r.cfg", nullptr, "r.cfg", true},
    };
    const std::string bytes = encodeConfig(startupState());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && ::geteuid() != 0) {
            std::printf("skipped \"%s\": only root may do this\n", row.name);
            continue;
        }
        const TempDir dir;
        for (const auto& make : row.make) make(dir.path);
        Listing want = listing(dir.path);
        std::string error;
        const bool saved = writeConfigFileAtomically((dir.path / row.saveAs).string(), bytes, error);
        EXPECT_EQ(saved, row.refusal == nullptr) << error;
        if (row.refusal) {
            const std::string name = fs::path(row.saveAs).filename().string();
            const std::string start = "Cannot save \"" + name + "\": " + row.refusal;
            EXPECT_TRUE(error.starts_with(start) && error.ends_with(".")) << error;
        }
        const Listing after = listing(dir.path);
        if (row.written) {
            Entry& w = want[row.written];
            if (!after.contains(row.written)) ADD_FAILURE() << "nothing written";
            else if (std::get<3>(w).empty()) w = after.at(row.written);  // a new file: its own rights
            std::get<3>(w) = bytes;
        }
        EXPECT_EQ(after, want) << "a stray file was left, or one went missing or changed";
    }
}

// A new file gets what any program's new file gets: 0666 less the umask.
TEST(ConfigFile, NewFileGetsTheUsualRightsLessTheUmask) {
    const std::string bytes = encodeConfig(startupState());
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        const TempDir dir;
        const fs::path p = dir.path / "new.cfg";
        const mode_t saved = ::umask(mask);
        std::string error;
        const bool ok = writeConfigFileAtomically(p.string(), bytes, error);
        ::umask(saved);
        ASSERT_TRUE(ok) << error;
        struct stat st {};
        ASSERT_EQ(::stat(p.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    }
}

TEST(ConfigFile, SavingRefusesAnotherUsersFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may act as another user";
    const TempDir dir;
    const std::string bytes = encodeConfig(startupState());
    // Another user may not replace root's 0644 file, even where the folder
    // would let them rename over it.
    fs::permissions(dir.path, fs::perms::all);
    const fs::path mine = dir.path / "mine.cfg";
    makeFile(mine, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const Listing before = listing(dir.path);
    const pid_t child = ::fork();
    if (child == 0) {
        std::string why;
        const bool ok = ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
                        !writeConfigFileAtomically(mine.string(), bytes, why) &&
                        why == "Cannot save \"mine.cfg\": you have no permission to write to it.";
        ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(listing(dir.path), before);
}

}  // namespace
}  // namespace veltra
