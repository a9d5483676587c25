// Saving and reading .cfg files on a POSIX file system: links, FIFOs,
// devices, rights and owners, a file size limit met while writing.
#include "panel/config_file.h"
#include "save_check.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veltra {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr uid_t kNobody = 65534;

void makeFile(const fs::path& p, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    std::ofstream(p, std::ios::binary) << "old";
    fs::permissions(p, perms);
}

// An entry's type, rights, owner and group.
std::string meta(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
}
test::Listing listing(const fs::path& dir) { return test::listing(dir, meta); }

TEST(ConfigFile, FilesOnDisk) {
    const TempDir dir;
    const fs::path p = dir.path / "kept.cfg";
    makeFile(p);
    const test::Listing before = listing(dir.path);

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
    EXPECT_TRUE(!ok && error.find("kept.cfg") != std::string::npos) << error;
    EXPECT_EQ(listing(dir.path), before);

    ASSERT_EQ(::mkfifo((dir.path / "fifo.cfg").c_str(), 0600), 0);  // must not block the open
    EXPECT_EQ(readConfigFile((dir.path / "fifo.cfg").string()).status, ConfigFileData::Status::kCannotOpen);
}

// Saving writes through links, refuses what is not a regular file or what the
// user made read-only, and keeps a replaced file's rights. A file with no
// write bit for anyone is refused even for root, whom the system would let
// write it: its owner made it read-only on purpose.
TEST(ConfigFile, SavingWritesThroughLinksKeepsRightsAndRefusesWhatIsNotAWritableFile) {
    using P = fs::perms;
    const auto link = [](const char* to, const char* at) { return [=](const fs::path& d) { fs::create_symlink(to, d / at); }; };
    const auto fifo = [](const char* at) { return [=](const fs::path& d) { ASSERT_EQ(::mkfifo((d / at).c_str(), 0600), 0); }; };
    const auto device = [](const char* at) {  // what /dev/null is, in our own folder
        return [=](const fs::path& d) { ASSERT_EQ(::mknod((d / at).c_str(), S_IFCHR | 0666, makedev(1, 3)), 0); };
    };
    const auto file = [](const char* at, P perms) { return [=](const fs::path& d) { makeFile(d / at, perms); }; };
    const auto folder = [](const char* at) { return [=](const fs::path& d) { fs::create_directories(d / at); }; };
    const auto theirs = [](const char* at) { return [=](const fs::path& d) { ASSERT_EQ(::chown((d / at).c_str(), kNobody, kNobody), 0); }; };
    const char* loop = "its symbolic links go round in a loop";
    const test::SaveRow rows[] = {
        {"dangling link into a folder", {folder("sub"), link("sub/new.cfg", "d.cfg")}, "d.cfg", nullptr, "sub/new.cfg"},
        {"dangling link into a missing folder", {link("gone/new.cfg", "d.cfg")}, "d.cfg", "cannot create a file in its folder"},
        {"link loop", {link("b.cfg", "a.cfg"), link("a.cfg", "b.cfg")}, "a.cfg", loop},
        {"link to itself", {link("l.cfg", "l.cfg")}, "l.cfg", loop},
        {"relative links across folders", {folder("a"), folder("b"), file("b/f.cfg", P::owner_read | P::owner_write),
                                           link("../b/l2", "a/l1"), link("f.cfg", "b/l2")}, "a/l1", nullptr, "b/f.cfg"},
        {"FIFO", {fifo("f.cfg")}, "f.cfg", "it is a named pipe, not a regular file"},
        {"link to a FIFO", {fifo("p"), link("p", "l.cfg")}, "l.cfg", "it links to a named pipe, not a regular file"},
        {"folder", {folder("x.cfg")}, "x.cfg", "it is a folder, not a regular file"},
        {"device node", {device("null")}, "null", "it is a device, not a regular file", nullptr, true},
        {"link to a device node", {device("null"), link("null", "n.cfg")}, "n.cfg",
         "it links to a device, not a regular file", nullptr, true},
        {"0444", {file("r.cfg", P::owner_read | P::group_read | P::others_read)}, "r.cfg", "it is read-only"},
        {"0640", {file("r.cfg", P::owner_read | P::owner_write | P::group_read)}, "r.cfg", nullptr},
        {"0200", {file("r.cfg", P::owner_write)}, "r.cfg", nullptr},
        // Someone may write it; the owner would need root.
        {"0420", {file("r.cfg", P::group_write | P::owner_read)}, "r.cfg", nullptr, "r.cfg", true},
        {"another user's file keeps its owner and group", {file("r.cfg", P::owner_read | P::owner_write), theirs("r.cfg")},
         "r.cfg", nullptr, "r.cfg", true},
    };
    for (const test::SaveRow& row : rows) {
        if (row.needsRoot && ::geteuid() != 0) std::printf("skipped \"%s\": only root may do this\n", row.name);
        else test::checkSave(row, meta);
    }
}

// A new file gets what any program's new file gets: 0666 less the umask.
TEST(ConfigFile, NewFileGetsTheUsualRightsLessTheUmask) {
    const std::string bytes = encodeConfig(PanelState{});
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
    const std::string bytes = encodeConfig(PanelState{});
    // Another user may not replace root's 0644 file, even where the folder
    // would let them rename over it.
    fs::permissions(dir.path, fs::perms::all);
    const fs::path mine = dir.path / "mine.cfg";
    makeFile(mine, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const test::Listing before = listing(dir.path);
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
