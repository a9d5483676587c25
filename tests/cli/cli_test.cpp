// veltractl as a process against veltra-sim and against bare pseudo-terminals,
// and the client's calls back to back.

#include "client/refusal_text.h"
#include "client/veltra_client.h"
#include "panel/config_file.h"
#include "panel/field_checks.h"
#include "protocol/traffic_line.h"
#include "serial/pty_pair.h"
#include "support/fakes.h"
#include "support/qt_print.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <fstream>
#include <thread>

// Failures show the JSON itself.
inline void PrintTo(const QJsonObject& o, std::ostream* os) { *os << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

namespace veltra::test {
namespace {

constexpr int kWaitMs = 10000;  // generous: CI runs these under AddressSanitizer

struct Result {
    int code = -1;
    QByteArray out, err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

// veltractl as a process; `play` acts as the device while it runs.
Result ctl(const QStringList& args, const std::function<void()>& play = {}) {
    QProcess p;
    p.start(VELTRACTL_PATH, args);
    if (!p.waitForStarted(kWaitMs)) return {};
    if (play) play();
    p.waitForFinished(kWaitMs);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The panel's .cfg file of `s`, in `dir`.
QString writeCfg(const QTemporaryDir& dir, const PanelState& s) {
    const QString path = dir.filePath("s.cfg");
    std::ofstream(path.toStdString(), std::ios::binary) << encodeConfig(s);
    return path;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PtyPair().ok()) GTEST_SKIP() << "no pseudo-terminal available";
        sim.start(VELTRA_SIM_PATH, {"--verbose", "--delay-ms", "1250.5"});  // prints its terminal's path first
        ASSERT_TRUE(QTest::qWaitFor([this] { return sim.canReadLine(); }, kWaitMs));
        pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    void TearDown() override { sim.terminate(), sim.waitForFinished(5000); }
    Result run(QStringList args) { return ctl(QStringList{"--device", pty} + args); }

    QProcess sim;
    QString pty;
    QTemporaryDir dir;
};

// The names --verify leaves out send their own action (the panel's bytes are
// pinned in the panel's tests); reset, restore and a run read the status too.
TEST_F(SimTest, eachOtherCommandSendsItsAction) {
    const struct { QStringList args; std::vector<Command> sent; } rows[] = {
        {{"online"}, {onlineCommand()}}, {{"status"}, {statusCommand()}}, {{"info"}, {getInfoCommand()}},
        {{"close"}, {shutterCommand(1)}}, {{"stop"}, {stopCommand()}}, {{"power", "on"}, {powerOnCommand()}},
        {{"power", "off"}, {powerOffCommand()}}, {{"save-to-controller"}, {saveConfigCommand()}},
        {{"reset"}, {resetCommand(), statusCommand()}}, {{"restore-defaults"}, {restoreDefaultCommand(), statusCommand()}},
        {{"run", "trigger"}, {statusCommand(), *runningOptionCommand(1)}},
    };
    for (const auto& row : rows) {
        const Result r = run(QStringList{"--trace"} + row.args);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        QStringList sent, wanted;
        for (const QByteArray& line : r.err.split('\n'))
            if (const qsizetype at = line.indexOf(" TX " + pty.toUtf8() + " "); at >= 0) sent << line.mid(at + pty.size() + 5);
        for (const Command& c : row.sent) wanted << QString::fromStdString(toHex(c));
        EXPECT_EQ(sent, wanted) << row.args.join(' ').toStdString();
    }
}

TEST(VeltractlHelp, versionAndEachCommandsOwnHelp) {
    Result r = ctl({"--version"});
    EXPECT_TRUE(r.code == 0 && r.out.contains("veltractl " VELTRA_VERSION "\n")) << r.out.toStdString();
    r = ctl({"--help"});  // the ranges as whole numbers
    EXPECT_TRUE(r.code == 0 && r.out.contains("50 to 4000000") && r.out.contains("1 to 3600000")) << r.out.toStdString();
    r = ctl({"timer", "--help"});  // points to the global options, without their exit-code table
    EXPECT_TRUE(r.code == 0 && r.out.contains("--tenths") && r.out.contains("See veltractl --help") && !r.out.contains("130"))
        << r.out.toStdString();
}

TEST_F(SimTest, exitCodes_usageRefusalAndBadFileSendNothing) {
    QFile f(writeCfg(dir, PanelState{}));
    ASSERT_TRUE(f.resize(f.size() - 3));  // cut short
    const QString notOne = dir.filePath("notes.cfg");
    std::ofstream(notOne.toStdString()) << "exposure 250 ms, repeat 3\n";
    PanelState badTrigger, badTimer;
    badTrigger.triggerMode = 7, badTimer.exposureTime.minutes = "75";
    const QString badTriggerCfg = dir.filePath("trigger.cfg"), badTimerCfg = dir.filePath("timer.cfg");
    std::ofstream(badTriggerCfg.toStdString(), std::ios::binary) << encodeConfig(badTrigger);
    std::ofstream(badTimerCfg.toStdString(), std::ios::binary) << encodeConfig(badTimer);
    const struct { QStringList args; int code; const char* says; } rows[] = {
        {{"bogus-cmd"}, 2, "unknown command 'bogus-cmd'; see veltractl --help"}, {{}, 2, "no command given"},
        {{"--port", "1", "status"}, 2, "excludes"},  // and --device
        {{"--timeout", "0", "status"}, 2, "timeout"}, {{"mode", "nd"}, 2, "needs the number of steps"},
        // The global options too: whole decimal numbers, ranges told as such.
        {{"--timeout", "0x10", "status"}, 2, "'0x10' is not a whole decimal number"},
        {{"--timeout", "+100", "status"}, 2, "not a whole decimal number"},
        {{"--timeout", "99999999999999999999", "status"}, 2, "timeout in milliseconds is a whole number from 1 to 3600000"},
        {{"--baud", "+9600", "status"}, 2, "not a whole decimal number"}, {{"--baud", "-9600", "status"}, 2, "not a whole"},
        {{"--baud", "0", "status"}, 2, "'0' is out of range; the line speed in baud is a whole number from 50 to 4000000"},
        {{"--baud", "4000001", "status"}, 2, "50 to 4000000"}, {{"monitor", "--duration", "1e3"}, 2, "0.001 to 1000000"},
        // The panel's refusals in a script user's words.
        {{"trigger", "x"}, 2, "refused, nothing was sent: trigger must be one of off, high, low, rising, falling, not 'x'"},
        {{"run", "later", "--wait"}, 2, "running option must be one of power-up, trigger, go, not 'later'"},
        {{"timer", "delay", "06:00:00.000.0"}, 2, "refused, nothing was sent: delay hours must be 0 to 5, not 6"},
        {{"timer", "exposure", "05:00:00.000.1"}, 2, "exposure must be at most 5 hours (05:00:00.000.0), not 05:00:00.000.1"},
        {{"apply", badTriggerCfg}, 2, "trigger must be one of off, high, low, rising, falling, not '7'"},
        {{"apply", badTimerCfg}, 2, "exposure minutes must be 0 to 59, not 75"},
        {{"apply", notOne}, 6, "notes.cfg is not a configuration file saved by Veltra Utility, or it is cut short; nothing was changed"},
        {{"mode", "nd", "145"}, 2, "0 to 144"}, {{"timer", "delay", "1:2"}, 2, "HH:MM:SS.mmm.t"},
        {{"timer", "delay", "06:00:00.000.0"}, 2, "nothing was sent"}, {{"repeat", "-3"}, 2, "nothing was sent"},
        // Whole decimal numbers in range only: no leading-integer reading.
        {{"repeat", "65001"}, 2, "0 to 65000"}, {{"repeat", "650000"}, 2, "0 to 65000"},
        {{"repeat", "5abc"}, 2, "not a whole decimal number"}, {{"repeat", "1e3"}, 2, "not a whole decimal number"},
        {{"repeat", ""}, 2, "not a whole decimal number"}, {{"mode", "nd", "0x10"}, 2, "0 to 144"},
        {{"mode", "nd", "144x"}, 2, "0 to 144"},
        {{"timer", "delay", "--minutes", "5abc"}, 2, "--minutes is a whole number from 0 to 59"},
        {{"timer", "delay", "--hours", "6"}, 2, "--hours is a whole number from 0 to 5"},
        {{"apply", f.fileName()}, 6, "s.cfg is not a configuration file"}, {{"apply", dir.filePath("none.cfg")}, 6, "none.cfg"},
    };
    for (const auto& row : rows) {
        const Result r = run(row.args);
        EXPECT_EQ(r.code, row.code) << row.args.join(' ').toStdString();
        // One line, and none of the panel's box wording ("... Please retype.").
        EXPECT_TRUE(r.err.startsWith("veltractl: ") && r.err.count('\n') == 1 && r.err.contains(row.says) &&
                    !r.err.contains("!") && !r.err.contains("A subcommand") && !r.err.contains(".000000"))
            << r.err.toStdString();
    }
    EXPECT_EQ(run({"status"}).code, 0);  // the one command the simulator received
    QByteArray log;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (log += sim.readAllStandardError()).contains("] rx CC\n"); }, kWaitMs));
    EXPECT_EQ(log.count("] rx "), 1) << log.toStdString();
}

TEST_F(SimTest, exitCode3_deviceHeldByAnotherProgram) {
    // A value out of range is a usage error whatever the device.
    EXPECT_EQ(ctl({"--device", "/nonexistent/ttyUSB9", "repeat", "65001"}).code, 2);
    const Result hex = ctl({"--port", "0x1", "status"});
    EXPECT_TRUE(hex.code == 2 && hex.err.contains("'0x1' is not a whole decimal number; the COM port number is a whole number from 1 to 256"))
        << hex.err.toStdString();
    QSerialPort other;
    other.setPortName(pty);
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    const Result r = run({"status"});
    EXPECT_TRUE(r.code == 3 && r.err.contains("in use by another program")) << r.code << ' ' << r.err.toStdString();
}

// `status --json` prints the decoded record, every field; read-config writes
// it as the file the panel loads (the apply round trip: the Python suite).
TEST_F(SimTest, readConfig_thenThePanelLoadsTheControllersSettings) {
    for (const QStringList& a : {QStringList{"mode", "soft"}, {"timer", "exposure", "00:00:03.000.5"}, {"repeat", "7"}})
        ASSERT_EQ(run(a).code, 0);
    const QString path = dir.filePath("read.cfg");
    ASSERT_EQ(run({"read-config", path}).code, 0);
    EXPECT_EQ(run({"status", "--json"}).json(), QJsonDocument::fromJson(R"({"shutter":"close","mode":"soft","nd_steps":0,"trigger":"off",
        "sync":"off","delay":"00:00:01.250.5","exposure":"00:00:03.000.5","cycle_time":"00:00:04.391.0","repeat":7,
        "running_option":"none"})").object());
    RecordingSink sink;
    ScriptedPrompter prompter;
    ShutterPanel panel(sink, prompter);
    PanelState s;
    panel.initialise(s);
    prompter.file = path.toStdString();
    panel.onLoadConfigFile(s);
    EXPECT_TRUE(prompter.errors.empty() && sink.sent.empty());
    EXPECT_EQ(std::tie(s.shutterMode, s.repeatText, s.delayLabel, s.exposureLabel, s.cycleLabel),
              std::tuple(1, "7", "00 : 00 : 01 : 250 : 5", "00 : 00 : 03 : 000 : 5",
                         "Cycle Time  -  00 : 00 : 04 : 391 : 0"));
}

// The panel refills its field after the last cycle; a script reads 0 there.
TEST_F(SimTest, runGoWait_reportsThreeCyclesAndEndsAtTheCarriageReturn) {
    for (const QStringList& a : {QStringList{"timer", "delay", "00:00:00.100.0"}, {"timer", "exposure", "00:00:00.100.0"},
                                 {"repeat", "3"}})
        ASSERT_EQ(run(a).code, 0);
    const Result r = run({"run", "go", "--wait", "--json"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QList<QJsonValue> left;
    for (const QByteArray& line : lines)
        if (const QJsonObject o = QJsonDocument::fromJson(line).object(); o["counted"].toBool()) left.append(o["cycles_left"]);
    EXPECT_EQ(left, (QList<QJsonValue>{2, 1, 0})) << r.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(lines.back()).object()["event"], "end");
}

TEST_F(SimTest, trace_showsBothDirectionsAsTrafficLines_andInterruptClosesThePort) {
    const QByteArray err = run({"--trace", "status"}).err, at = " " + pty.toUtf8() + " CC";  // the line's own form: the traffic line's test
    const qsizetype tx = err.indexOf(" TX" + at + "\n");
    EXPECT_TRUE(tx >= 0 && err.indexOf(" RX" + at + " ", tx) > tx) << err.toStdString();

    QProcess monitor;
    monitor.start(VELTRACTL_PATH, {"--device", pty, "monitor"});
    ASSERT_TRUE(monitor.waitForStarted(kWaitMs));
    // Ctrl+C once it has the line; the line is free again afterwards.
    QByteArray log;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (log += sim.readAllStandardError()).count("client connected") == 2; }, kWaitMs));
    ::kill(static_cast<pid_t>(monitor.processId()), SIGINT);
    EXPECT_TRUE(monitor.waitForFinished(kWaitMs) && monitor.exitCode() == 130) << monitor.exitCode();
    EXPECT_EQ(run({"status"}).code, 0);
}

// A signal that comes while veltractl starts, before any handler could be in
// place, ends it with 130 too. The test blocks the signal in the child (the
// mask goes through exec), so it waits for the first moment veltractl takes
// it, wherever that is; it reaches no command and nothing goes out.
TEST_F(SimTest, signalWhileStarting_exits130AndSendsNothing) {
    for (const int sig : {SIGTERM, SIGINT}) {
        QProcess p;
        p.setChildProcessModifier([sig] {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, sig);
            ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        });
        p.start(VELTRACTL_PATH, {"--device", pty, "status"});
        ASSERT_TRUE(p.waitForStarted(kWaitMs));
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(kWaitMs));
        EXPECT_TRUE(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 130) << sig << ": " << p.exitCode();
        EXPECT_EQ(p.readAllStandardError(), "veltractl: interrupted\n");
    }
    EXPECT_EQ(run({"status"}).code, 0);  // the one command the simulator received
    QByteArray log;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (log += sim.readAllStandardError()).contains("] rx CC\n"); }, kWaitMs));
    EXPECT_EQ(log.count("] rx "), 1) << log.toStdString();
}

// Ctrl+C ends the following, not the controller's run: the message says so
// and names the command that stops it.
TEST_F(SimTest, interruptedRunWait_saysTheRunGoesOnAndNamesStop) {
    for (const QStringList& a : {QStringList{"timer", "delay", "00:00:00.000.0"}, {"timer", "exposure", "00:00:00.050.0"},
                                 {"repeat", "continuous"}})
        ASSERT_EQ(run(a).code, 0);
    QProcess p;
    p.start(VELTRACTL_PATH, {"--device", pty, "run", "go", "--wait"});
    QByteArray out;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (out += p.readAllStandardOutput()).contains("cycles left"); }, kWaitMs)) << out.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(kWaitMs));
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_EQ(p.readAllStandardError(),
              "veltractl: interrupted; the port is closed, but the controller goes on with the run: 'veltractl stop' stops it\n");
    // It does: its reports keep coming until the stop.
    const Result watched = run({"monitor", "--duration", "0.5"});
    EXPECT_TRUE(watched.code == 0 && watched.out.contains(" RX ")) << watched.out.toStdString();
    EXPECT_EQ(run({"stop"}).code, 0);
}

// ---- bare lines: the test plays the controller, or nothing answers -----------------

class BareLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
        // veltractl must not hold the master: closing it is the device going away.
        ::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC);
    }
    Result run(const QStringList& args, const std::function<void()>& play = {}) {
        return ctl(QStringList{"--device", pty.slavePath()} + args, play);
    }

    PtyPair pty;
    QTemporaryDir dir;
};

TEST_F(BareLineTest, noAnswer_exit4WithinTheTimeoutNamingTheStep) {
    PanelState s;
    s.shutterPosition = 1, s.repeatText = "1";
    const struct { QStringList args; const char* step; } rows[] = {
        {{"status"}, "status reply"},
        {{"online"}, "online echo"},
        {{"apply", writeCfg(dir, s)}, "position command"},
    };
    for (const auto& row : rows) {
        QElapsedTimer t;
        t.start();
        const Result r = run(QStringList{"--timeout", "300"} + row.args);
        EXPECT_TRUE(r.code == 4 && r.err.contains(row.step)) << r.code << ' ' << r.err.toStdString();
        EXPECT_LT(t.elapsed(), 3000);
    }
}

// The download counts answer bytes, as the panel does: k + 1 of anything will do.
TEST_F(BareLineTest, applyWithArbitraryAnswers_completesTheDownload) {
    PanelState s;
    s.shutterPosition = 0, s.shutterMode = 2, s.ndSteps = 9, s.triggerMode = 3, s.syncMode = 1, s.runningOption = 0;
    s.delayTime = s.exposureTime = {"0", "0", "1", "0", "0"}, s.repeatText = "5";
    QStringList got, wanted;
    const Result r = run({"apply", writeCfg(dir, s)}, [&] {
        for (int step = 0; step < kApplyStepCount; ++step) {
            const auto c = applyStepCommand(ApplyStep(step), s);
            if (!c) continue;
            wanted << QString::fromStdString(toHex(*c));
            got << QString(pty.receive(c->length).toHex(' ').toUpper());
            pty.send(QByteArray(c->length + 1, '\x5A'));
        }
    });
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(got, wanted);
}

// Each setting's name sends its own command, then reads the status back; a
// read-back that differs names that command's own fields, and exit 5.
TEST_F(BareLineTest, verify_eachSettingSendsItsCommandAndNamesItsOwnFields) {
    // Closed, Fast, trigger and sync off, both timers 0, repeat 1, no running option.
    const QByteArray readBack = QByteArray::fromHex("ccacdc00a0b010000000002000000000f0000100");
    const struct { QStringList args; Command sent; std::vector<const char*> says; } rows[] = {
        {{"open"}, shutterCommand(0), {"shutter wanted open, read close"}},
        {{"mode", "nd", "18"}, *modeCommand(2, 18), {"mode wanted", "nd_steps wanted 18"}},
        {{"trigger", "falling"}, triggerCommand(3), {"trigger wanted"}}, {{"sync", "low"}, syncCommand(1), {"sync wanted"}},
        {{"timer", "delay", "01:00:07.070.3"}, timerCommand(TimerSelector::Delay, {"1", "0", "7", "70", "3"}), {"delay wanted"}},
        {{"timer", "exposure", "--seconds", "2", "--tenths", "4"},
         timerCommand(TimerSelector::Exposure, {"0", "0", "2", "0", "4"}), {"exposure wanted"}},
        {{"repeat", "continuous"}, repeatCommand(0xFF, 0xFF), {"repeat wanted"}},
        {{"run", "power-up"}, *runningOptionCommand(0), {"running_option wanted"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const QByteArray command(reinterpret_cast<const char*>(row.sent.bytes.data()), row.sent.length);
        const Result r = run(QStringList{"--verify", "--json"} + row.args, [&] {
            EXPECT_EQ(pty.receive(int(command.size()) + 1), command + "\xCC");  // the status request follows at once
            pty.send(command + "\x0D" + readBack);
        });
        EXPECT_EQ(r.code, 5);
        for (const char* says : row.says) EXPECT_TRUE(r.err.contains(says)) << r.err.toStdString();
        EXPECT_EQ(r.json()["verified"], false);
        EXPECT_EQ(r.json()["differences"].toArray().size(), qsizetype(row.says.size()));
    }
}

// A device that takes the first byte and goes away: the download failed.
TEST_F(BareLineTest, deviceGoneAfterTheFirstByteOfApply_exit3NamingTheStep) {
    PanelState s;
    s.shutterPosition = 1, s.shutterMode = 0, s.repeatText = "1";
    const Result r = run({"apply", writeCfg(dir, s)}, [&] {
        EXPECT_EQ(pty.receive(1).toHex(), "ac");
        pty.closeMaster();
    });
    EXPECT_TRUE(r.code == 3 && r.err.contains("went away during the download, after step 1 of ")) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("done"));
}

// 19 bytes of 0xFF: every field the controller cannot have is named, nothing is written.
TEST_F(BareLineTest, statusReplyOutOfRange_exit1NamingTheFields_andNoFileWritten) {
    const QString cfg = dir.filePath("read.cfg");
    for (const QStringList& args : {QStringList{"status"}, QStringList{"read-config", cfg}}) {
        const Result r = run(args, [&] {
            EXPECT_EQ(pty.receive(1).toHex(), "cc");
            pty.send(QByteArray("\xCC") + QByteArray(19, '\xFF'));
        });
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        for (const char* field : {"mode", "trigger", "sync", "delay hours", "delay minutes", "delay seconds",
                                  "delay milliseconds", "delay tenths", "running_option"})
            EXPECT_TRUE(r.err.contains(field)) << field << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    EXPECT_FALSE(QFile::exists(cfg));
}

// A relative path is taken from the working folder; a missing one is named whole, exit 3.
TEST_F(BareLineTest, relativeDevicePath_isTakenFromTheWorkingFolder) {
    ASSERT_TRUE(QFile::link(pty.slavePath(), dir.filePath("simrel")));
    const QString was = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const Result found = ctl({"--device", "simrel", "stop"}), missing = ctl({"--device", "nothing", "stop"});
    QDir::setCurrent(was);
    EXPECT_EQ(found.code, 0) << found.err.toStdString();
    EXPECT_EQ(pty.receive(1).toHex(), "bf");
    EXPECT_TRUE(missing.code == 3 && missing.err.contains(QDir(dir.path()).filePath("nothing").toUtf8() + " does not exist")) << missing.err.toStdString();
}

// The comparison behind every --verify: a difference in any one of the nine
// settings is found, named, and is the only one reported.
TEST(CompareTest, eachOfTheNineSettingsIsComparedAndNamed) {
    ControllerSettings wanted;
    wanted.shutterPosition = 0, wanted.shutterMode = 2, wanted.ndSteps = 40, wanted.triggerMode = 2;
    wanted.syncMode = 1, wanted.runningOption = 0, wanted.repeatText = "12";
    wanted.delayTime = {"0", "0", "0", "5", "0"}, wanted.exposureTime = {"0", "1", "0", "0", "1"};
    ASSERT_TRUE(Client::compare(wanted, wanted).empty());
    using Change = std::function<void(ControllerSettings&)>;
    const struct { const char* field; Change change; } rows[] = {
        {"shutter", [](auto& r) { r.shutterPosition = 1; }},
        {"mode", [](auto& r) { r.shutterMode = 1; }},  // Soft: its steps are not compared
        {"nd_steps", [](auto& r) { r.ndSteps = 41; }}, {"trigger", [](auto& r) { r.triggerMode = -1; }},
        {"sync", [](auto& r) { r.syncMode = 0; }}, {"delay", [](auto& r) { r.delayTime.tenths = "1"; }},
        {"exposure", [](auto& r) { r.exposureTime.minutes = "2"; }},
        {"repeat", [](auto& r) { r.repeatText = kContinuousText; }}, {"running_option", [](auto& r) { r.runningOption = 2; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.field);
        ControllerSettings read = wanted;
        row.change(read);
        const std::vector<Difference> d = Client::compare(wanted, read);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].field, row.field);
        EXPECT_NE(d[0].wanted, d[0].read);
    }
}

// Every refusal of the panel's checks a script can meet, in the words
// veltractl and the Python module give: the range or the choices, and the
// value given; the panel's own texts go nowhere else.
TEST(RefusalTextTest, namesTheRangeOrChoicesAndTheValueGiven) {
    const struct { std::string panel, given, says; } rows[] = {
        {msg::kStepsTooMany, "145", "nd steps must be 0 to 144, not 145"},
        {msg::kNegativeSteps, "-1", "nd steps must be 0 to 144, not -1"},
        {msg::kNoSteps, "", "mode nd needs the number of steps, 0 to 144"},
        {msg::kNegativeRepeat, "-5", "repeat must be 0 to 65535 or continuous, not -5"},
        {msg::kRepeatTooLarge, "70000", "repeat must be 0 to 65535 or continuous, not 70000"},
        {msg::kRepeatFirst, "", "the repeat number is not set: set it (repeat N or continuous) before the run"},
        {msg::kBadPosition, "ajar", "shutter must be open or close, not 'ajar'"},
        {msg::kBadMode, "medium", "mode must be one of fast, soft, nd, not 'medium'"},
        {msg::kBadTrigger, "x", "trigger must be one of off, high, low, rising, falling, not 'x'"},
        {msg::kBadSync, "", "sync must be one of off, high, low"},
        {msg::kBadRunningOption, "later", "running option must be one of power-up, trigger, go, not 'later'"},
        {msg::kTimerMax, "", "a timer must be at most 5 hours (05:00:00.000.0)"},
        {msg::fieldLimitMessage(kHours), "6", "hours must be 0 to 5, not 6"},
        {msg::fieldLimitMessage(kTenths), "", "tenths of a millisecond must be 0 to 9"},
        {"the device went away", "x", "the device went away"},  // not the panel's check: as it is
    };
    for (const auto& row : rows) EXPECT_EQ(refusalText(row.panel, row.given), row.says);

    const TimerValue late{"5", "0", "0", "0", "1"}, fast{"0", "60", "0", "0", "0"};
    EXPECT_EQ(timerRefusalText(*checkTimer(late), "delay", late), "delay must be at most 5 hours (05:00:00.000.0), not 05:00:00.000.1");
    EXPECT_EQ(timerRefusalText(*checkTimer(fast), "exposure", fast), "exposure minutes must be 0 to 59, not 60");

    // A download names the first setting its checks refuse, with its value.
    using Change = std::function<void(ControllerSettings&)>;
    const struct { Change change; const char* says; } downloads[] = {
        {[](auto& s) { s.shutterMode = 2, s.ndSteps = 200; }, "nd steps must be 0 to 144, not 200"},
        {[](auto& s) { s.syncMode = 4; }, "sync must be one of off, high, low, not '4'"},
        {[](auto& s) { s.delayTime.hours = "7", s.repeatText = "-1"; }, "delay hours must be 0 to 5, not 7"},
        {[](auto& s) { s.repeatText = "-1"; }, "repeat must be 0 to 65535 or continuous, not -1"},
    };
    ControllerSettings valid;
    valid.repeatText = "1";
    EXPECT_EQ(downloadRefusal(valid), std::nullopt);
    for (const auto& row : downloads) {
        ControllerSettings s = valid;
        row.change(s);
        EXPECT_EQ(downloadRefusal(s), row.says);
    }

    EXPECT_EQ(configFileText(pastEndMessage("/lab/bad.cfg"), "/lab/bad.cfg"),
              "/lab/bad.cfg is not a configuration file saved by Veltra Utility, or it is cut short; nothing was changed");
    EXPECT_EQ(configFileText("Cannot open \"x.cfg\": No such file.", "x.cfg"), "Cannot open \"x.cfg\": No such file.");
}

// Every choice of the trigger and sync groups sends its own setting; Off
// goes out whatever the group held before, again when it is off already,
// and leaves the group's box unchecked.
TEST_F(BareLineTest, clientTriggerAndSyncChoicesSendTheirSettingOffIncluded) {
    const struct { std::function<void(Client&)> call; Command sent; } rows[] = {
        {[](Client& c) { c.trigger(TriggerInput::RisingEdge); }, triggerCommand(2)},
        {[](Client& c) { c.trigger(TriggerInput::Off); }, triggerCommand(-1)},
        {[](Client& c) { c.trigger(TriggerInput::Off); }, triggerCommand(-1)},
        {[](Client& c) { c.trigger(TriggerInput::EnableOnLow); }, triggerCommand(1)},
        {[](Client& c) { c.trigger(TriggerInput::Off); }, triggerCommand(-1)},
        {[](Client& c) { c.sync(SyncOutput::HighForOpen); }, syncCommand(0)},
        {[](Client& c) { c.sync(SyncOutput::Off); }, syncCommand(-1)},
        {[](Client& c) { c.sync(SyncOutput::Off); }, syncCommand(-1)},
        {[](Client& c) { c.sync(SyncOutput::LowForOpen); }, syncCommand(1)},
        {[](Client& c) { c.sync(SyncOutput::Off); }, syncCommand(-1)},
    };
    Client client(ClientOptions{pty.slavePath(), 9600, kWaitMs});
    for (const auto& row : rows) {
        const QByteArray want(reinterpret_cast<const char*>(row.sent.bytes.data()), row.sent.length);
        ASSERT_NO_THROW(row.call(client));
        QByteArray got;
        char c = 0;
        for (pollfd p{pty.masterFd(), POLLIN, 0}; got.size() < want.size() && ::poll(&p, 1, kWaitMs) > 0;)
            got.append(::read(pty.masterFd(), &c, 1) == 1 ? c : '?');
        EXPECT_EQ(got.toHex(' '), want.toHex(' ')) << toHex(row.sent);
    }
    EXPECT_FALSE(client.state().triggerPulseChecked);
    EXPECT_FALSE(client.state().syncPulseChecked);
}

// ---- calls back to back ----------------------------------------------------------------

using BackToBackTest = BareLineTest;

TEST_F(BackToBackTest, anAnswerThatCameBetweenTwoCallsIsDecodedNotDropped) {
    const char* status = "cc ac dc 00 a0 b0 00 00 00 00 00 00 00 00 00 00 f0 00 03 00";  // closed, repeat 3
    const std::pair<const char*, const char*> script[] = {  // each step: the bytes expected, then the answer
        {"cc", status},       // the run reads the repeat number first
        {"fa f3", "fa f3"},   // Go: the run is under way
        {"bf", "bf 0d"},      // STOP: its carriage return ends the run
        {"fb", "fb 0d"},      // Reset: back at once
        {"cc", status},       // the Status the panel asks for then
    };
    // The controller, played on the master side from a thread of its own; a wrong byte ends the play.
    const std::jthread peer([&, fd = pty.masterFd()] {
        for (const auto& [expect, answer] : script) {
            const QByteArray want = QByteArray::fromHex(expect), reply = QByteArray::fromHex(answer);
            QByteArray got;
            char c = 0;
            for (pollfd p{fd, POLLIN, 0}; got.size() < want.size() && ::poll(&p, 1, kWaitMs) > 0;)
                got.append(::read(fd, &c, 1) == 1 ? c : '?');
            if (got != want || ::write(fd, reply.constData(), size_t(reply.size())) != reply.size()) return;
        }
    });
    Client client(ClientOptions{pty.slavePath(), 9600, kWaitMs});
    ASSERT_NO_THROW(client.run(RunningOption::Go));
    ASSERT_NO_THROW(client.stop());
    // STOP's answer is in before Reset goes out, and nothing has read it yet.
    ASSERT_TRUE(pty.slaveHasInput(kWaitMs));
    // Dropped, it would leave the run followed, and the run would take
    // Reset's carriage return for its end: no Status, a timeout.
    EXPECT_NO_THROW(client.reset());
}

}  // namespace
}  // namespace veltra::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
