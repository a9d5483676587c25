#include "protocol/commands.h"
#include "serial/ccomportlink.h"
#include "serial/port_settings.h"

#include <gtest/gtest.h>

namespace veltra {
namespace {

static_assert(kMinSendBufferSize == kLongestCommand, "the send buffer must hold the longest command");

struct ConvertRow {
    const char* baud;
    const char* parity;
    const char* dataBits;
    const char* stopBits;
    const char* sendBuffer;
    PortSettingsRequest expected;
};

class ConvertDialogTexts : public ::testing::TestWithParam<ConvertRow> {};

TEST_P(ConvertDialogTexts, eachTextByItself) {
    const ConvertRow& r = GetParam();
    EXPECT_EQ(convertDialogTexts(QString::fromUtf8(r.baud), QString::fromUtf8(r.parity),
                                 QString::fromUtf8(r.dataBits), QString::fromUtf8(r.stopBits),
                                 QString::fromUtf8(r.sendBuffer)),
              r.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConvertDialogTexts,
    ::testing::Values(
        // What the dialog shows for the panel's first port.
        ConvertRow{"9600", "NONE", "8", "1", "512", {9600, 'N', 8, 1, 512}},
        ConvertRow{"19200", "EVEN", "7", "2", "255", {19200, 'E', 7, 2, 255}},
        ConvertRow{"2400", "Even", "8", "1", "512", {2400, 'E', 8, 1, 512}},
        ConvertRow{"300", "SPACE", "6", "1", "4096", {300, 'S', 6, 1, 4096}},
        ConvertRow{"1200", "MARK", "8", "1", "1024", {1200, 'M', 8, 1, 1024}},
        ConvertRow{"9600", "ODD", "8", "1", "2048", {9600, 'O', 8, 1, 2048}},
        // Typed send-buffer texts: leading integer, the rest ignored.
        ConvertRow{"9600", "NONE", "8", "1", "300abc", {9600, 'N', 8, 1, 300}},
        ConvertRow{"9600", "NONE", "8", "1", "  -5", {9600, 'N', 8, 1, -5}},
        ConvertRow{"9600", "NONE", "8", "1", "abc", {9600, 'N', 8, 1, 0}},
        ConvertRow{"9600", "NONE", "8", "1", "  +64 bytes", {9600, 'N', 8, 1, 64}},
        ConvertRow{"9600", "NONE", "8", "1", "-", {9600, 'N', 8, 1, 0}},
        // One and a half stop bits has no whole-number form: it reads as 1.
        ConvertRow{"9600", "NONE", "8", "1.5", "512", {9600, 'N', 8, 1, 512}},
        // Nothing selected: empty texts give 0 and the character code 0.
        ConvertRow{"", "", "", "", "", {0, '\0', 0, 0, 0}}));

TEST(DefaultDeviceName, comNumberToDevice) {
#ifdef Q_OS_WIN
    EXPECT_EQ(defaultDeviceName(1), QStringLiteral("COM1"));
    EXPECT_EQ(defaultDeviceName(4), QStringLiteral("COM4"));
#else
    EXPECT_EQ(defaultDeviceName(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(defaultDeviceName(4), QStringLiteral("/dev/ttyS3"));
#endif
}

TEST(SendBufferSizeAcceptable, holdsTheLongestCommand) {
    struct Row {
        int size;
        bool ok;
    };
    for (const Row& r : {Row{-5, false}, Row{0, false}, Row{5, false}, Row{6, true},
                         Row{255, true}, Row{512, true}, Row{4096, true}}) {
        EXPECT_EQ(sendBufferSizeAcceptable(r.size), r.ok) << r.size;
    }
}

TEST(ComposeLinkErrorText, twoBlanksAfterTheColonAndThePort) {
    EXPECT_EQ(composeLinkErrorText(QStringLiteral("SetCommState()"),
                                   QStringLiteral("Invalid argument"), 3),
              QStringLiteral("WARNING:  SetCommState() Failed with the following error: \n"
                             "Invalid argument\nPort: 3\n"));
}

}  // namespace
}  // namespace veltra
