#include "protocol/apply_download.h"
#include "protocol/reply_decoder.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

namespace veltra {
namespace {

struct Download {
    ProtocolState p;
    test::RecordingSink sink;
    ReplyDecoder decoder{p, sink};
    PanelState s;

    Download() {
        p.activePort = 2;
        s.shutterPosition = 1;
        s.shutterMode = 0;
        s.triggerMode = 0;
        s.syncMode = 1;
        s.delayTime = {"1", "2", "3", "456", "7"};
        s.exposureTime = {"0", "0", "0", "12", "0"};
        s.repeatText = "300";
        s.runningOption = 2;
    }
    // Plays a controller that answers each command of k bytes with k + 1
    // bytes, and records the received count at which each command went out.
    std::vector<int> run(std::size_t maxBytes = 200) {
        std::vector<int> counts;
        std::size_t answered = 1;
        int received = 0;
        EXPECT_TRUE(startApplyDownload(s, p, sink));
        // The last step is not answered here: a carriage return after it
        // would end the run that the download has just started following.
        while (p.applyReplyCount >= 0 && answered <= sink.sent.size() &&
               static_cast<std::size_t>(received) < maxBytes) {
            const std::string& hex = sink.sent[answered - 1].hex;
            const int k = static_cast<int>((hex.size() + 1) / 3);
            for (int i = 0; i < k + 1; ++i) {
                const std::size_t before = sink.sent.size();
                decoder.onPortRxChar(s, i < k ? 0x55 : 0x0D, 2);
                ++received;
                if (sink.sent.size() > before) counts.push_back(received);
            }
            ++answered;
        }
        return counts;
    }
};

TEST(ApplyDownload, FastModeGoesOutInOrderAtItsCounts) {
    Download d;
    EXPECT_EQ(d.run(), (std::vector<int>{2, 4, 7, 10, 17, 24, 29}));
    EXPECT_EQ(d.sink.hex(), (std::vector<std::string>{"AC", "DC", "FA A1", "FA B2", "FA 11 02 03 45 67",
                                                       "FA 20 00 00 01 20", "FA F0 01 2C", "FA F3"}));
    EXPECT_EQ(d.p.applyReplyCount, -1);
    EXPECT_EQ(d.p.runMode, 2);
    EXPECT_EQ(d.p.runStartPosition, 1);
}

TEST(ApplyDownload, NeutralDensityComesOneByteLater) {
    Download d;
    d.s.shutterMode = 2;
    d.s.ndSteps = 144;
    d.s.shutterPosition = 0;
    d.s.repeatText = "Continuous";
    d.s.runningOption = 0;
    EXPECT_EQ(d.run(), (std::vector<int>{2, 5, 8, 11, 18, 25, 30}));
    EXPECT_EQ(d.sink.hex(), (std::vector<std::string>{"AA", "DE 90", "FA A1", "FA B2", "FA 11 02 03 45 67",
                                                       "FA 20 00 00 01 20", "FA F0 FF FF", "FA F1"}));
    EXPECT_EQ(d.p.runMode, 0);  // On Power Up is not followed
}

TEST(ApplyDownload, NoModeSkipsToTheTriggerStepAndCompletes) {
    Download d;
    d.s.shutterMode = -1;
    d.run();
    EXPECT_EQ(d.sink.hex(), (std::vector<std::string>{"AC", "FA A1", "FA B2", "FA 11 02 03 45 67",
                                                       "FA 20 00 00 01 20", "FA F0 01 2C", "FA F3"}));
    EXPECT_EQ(d.p.applyReplyCount, -1);
}

TEST(ApplyDownload, NoRunningOptionEndsWithoutATruncatedCommand) {
    Download d;
    d.s.runningOption = -1;
    d.run();
    EXPECT_EQ(d.sink.sent.size(), 7u);
    EXPECT_EQ(d.sink.last(), "FA F0 01 2C");
    EXPECT_EQ(d.p.applyReplyCount, -1);
    EXPECT_EQ(d.p.runMode, 0);
}

TEST(ApplyDownload, EachStepUsesThePanelAsItIsThen) {
    Download d;
    ASSERT_TRUE(startApplyDownload(d.s, d.p, d.sink));
    d.decoder.onPortRxChar(d.s, 0xAC, 2);
    d.s.shutterMode = 1;  // changed while the first answer was under way
    d.decoder.onPortRxChar(d.s, 0x0D, 2);
    EXPECT_EQ(d.sink.last(), "DD");
}

TEST(ApplyDownload, StatusReplyDuringTheDownloadChangesNothing) {
    Download d;
    ASSERT_TRUE(startApplyDownload(d.s, d.p, d.sink));
    for (int b : {0xCC, 0xAA, 0xDD, 0x00, 0xA0, 0xB0}) d.decoder.onPortRxChar(d.s, b, 2);
    EXPECT_EQ(d.s.shutterPosition, 1);
    EXPECT_EQ(d.s.shutterMode, 0);
    EXPECT_EQ(d.s.triggerMode, 0);
    EXPECT_EQ(d.s.syncMode, 1);
    EXPECT_EQ(d.p.statusIndex, -1);
    EXPECT_EQ(d.s.log.size(), 6u);
    EXPECT_EQ(d.p.applyReplyCount, 6);
    EXPECT_EQ(d.sink.hex(), (std::vector<std::string>{"AC", "DC", "FA A1"}));
}

TEST(ApplyDownload, NegativeRepeatChangedMidwayStopsBeforeTheRepeatStep) {
    Download d;
    d.s.repeatText = "-5";
    d.run();
    EXPECT_EQ(d.sink.last(), "FA 20 00 00 01 20");
    EXPECT_EQ(d.p.applyReplyCount, -1);
}

TEST(ApplyDownload, ANewApplyRestartsFromTheBeginning) {
    Download d;
    ASSERT_TRUE(startApplyDownload(d.s, d.p, d.sink));
    for (int i = 0; i < 5; ++i) d.decoder.onPortRxChar(d.s, 0x55, 2);
    ASSERT_TRUE(startApplyDownload(d.s, d.p, d.sink));
    EXPECT_EQ(d.p.applyReplyCount, 0);
    EXPECT_EQ(d.p.applyNextAt, 2);
}

}  // namespace
}  // namespace veltra
