// The client in-process against veltra-sim: what a script asks is what the
// controller then holds, read back by status; and what a silent or held line
// does to a call.
#include "client/veltra_client.h"
#include "serial/pty_pair.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

constexpr int kWaitMs = 10000;

class ClientSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::PtyPair().ok()) GTEST_SKIP() << "no pseudo-terminal available";
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(VELTRA_SIM_PATH, {"--time-scale", "10"});
        ASSERT_TRUE(QTest::qWaitFor([this] { return sim.canReadLine(); }, kWaitMs));
        device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    void TearDown() override { sim.terminate(), sim.waitForFinished(5000); }
    ClientOptions options(bool verify = true) {
        ClientOptions o;
        o.device = device;
        o.timeoutMs = 3000;
        o.verify = verify;
        return o;
    }

    QProcess sim;
    QString device;
};

TEST_F(ClientSimTest, everySetting_isConfirmedByTheStatusReadBack) {
    Client c(options());
    EXPECT_TRUE(c.online());
    c.openShutter();
    c.mode(2, "18");
    c.setTimer(TimerKind::Delay, *parseTimerText("01:00:07.070.3"));
    c.setTimer(TimerKind::Exposure, *parseTimerText("00:00:02.500.0"));
    c.repeat("256");
    c.trigger(1);
    c.sync(0);
    const StatusRecord r = c.status();
    EXPECT_EQ(std::tuple(shutterName(r.shutterPosition), modeName(r.shutterMode), r.ndSteps, triggerName(r.triggerMode),
                         syncName(r.syncMode), timerText(r.delayTime), timerText(r.exposureTime), r.repeat),
              std::tuple("open", "nd", 18, "low", "high", "01:00:07.070.3", "00:00:02.500.0", 256));
    const InfoLines info = c.info();
    EXPECT_EQ(info.first.size(), 8u);
}

TEST_F(ClientSimTest, refusedValues_sendNothing) {
    Client c(options());
    std::vector<std::string> traffic;
    c.setTrafficHandler([&](bool tx, const std::uint8_t*, std::size_t) { traffic.push_back(tx ? "TX" : "RX"); });
    EXPECT_THROW(c.mode(2, "145"), RefusedError);
    EXPECT_THROW(c.setTimer(TimerKind::Delay, *parseTimerText("06:00:00.000.0")), RefusedError);
    EXPECT_THROW(c.trigger(4), RefusedError);
    EXPECT_THROW(c.repeat("-5"), RefusedError);
    ApplySettings bad;
    bad.delayTime = {"16", "0", "0", "0", "0"};
    EXPECT_THROW(c.apply(bad), RefusedError);
    EXPECT_TRUE(traffic.empty());
}

TEST_F(ClientSimTest, applyFromAFile_thenReadConfigGivesTheSameSettings) {
    Client c(options());
    ApplySettings a;
    a.shutterPosition = 0, a.shutterMode = 1, a.triggerMode = 3, a.syncMode = 1;
    a.delayTime = *parseTimerText("00:00:01.250.5");
    a.exposureTime = *parseTimerText("00:02:00.000.0");
    a.repeatText = "Continuous";
    a.runningOption = 0;
    c.apply(a);  // verified inside

    QTemporaryDir dir;
    const std::string path = dir.filePath("read.cfg").toStdString();
    const StatusRecord r = c.readConfig(path);
    EXPECT_TRUE(Client::compare(a, r).empty());
    c.close();
    Client again(options());
    again.applyFile(path);  // the file the panel would load goes back unchanged
    EXPECT_TRUE(Client::compare(a, again.status()).empty());
}

TEST_F(ClientSimTest, goWithRepeatThree_reportsThreeCyclesAndEndsAtTheCarriageReturn) {
    Client c(options(false));
    c.setTimer(TimerKind::Delay, *parseTimerText("00:00:00.100.0"));
    c.setTimer(TimerKind::Exposure, *parseTimerText("00:00:00.100.0"));
    c.repeat("3");
    c.status();  // the cycle time, for the wait
    c.run(2);
    std::vector<std::string> counted;
    c.waitRun([&](const RunEvent& e) {
        if (e.counted) counted.push_back(e.leftCycleText);
    });
    EXPECT_EQ(counted, (std::vector<std::string>{"2", "1", "3"}));
}

TEST(ClientLineTest, silentLine_timesOutNamingTheStep_andAHeldLineIsInUse) {
    int argc = 0;
    if (!QCoreApplication::instance()) new QCoreApplication(argc, nullptr);
    test::PtyPair pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    ClientOptions o;
    o.device = pty.slavePath();
    o.timeoutMs = 300;
    Client c(o);
    try {
        c.status();
        FAIL() << "no timeout";
    } catch (const TimeoutError& e) {
        EXPECT_EQ(e.step(), "status reply");
    }
    ApplySettings a;
    a.shutterMode = 0, a.repeatText = "1";
    pty.receive(1);
    try {
        c.apply(a);
        FAIL() << "no timeout";
    } catch (const TimeoutError& e) {
        EXPECT_EQ(e.step(), "answer to the shutter position command of the download");
    }
    try {
        Client second(o);
        FAIL() << "opened twice";
    } catch (const PortError& e) {
        EXPECT_EQ(e.reason(), PortError::Reason::Busy) << e.what();
    }
    o.device = "/nonexistent/ttyUSB9";
    try {
        Client missing(o);
        FAIL() << "opened a missing device";
    } catch (const PortError& e) {
        EXPECT_EQ(e.reason(), PortError::Reason::Missing);
    }
}

}  // namespace
}  // namespace veltra

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
