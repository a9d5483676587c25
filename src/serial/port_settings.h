#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace veltra {

// Parity codes as the line-settings record keeps them (the order of the
// parity list in the port settings dialog).
enum ParityCode : std::uint8_t {
    kParityNone = 0,
    kParityOdd = 1,
    kParityEven = 2,
    kParityMark = 3,
    kParitySpace = 4,
};

// Stop-bits codes (the order of the stop-bits list in the dialog).
enum StopBitsCode : std::uint8_t {
    kStopBitsOne = 0,
    kStopBitsOneAndHalf = 1,
    kStopBitsTwo = 2,
};

// A port's line settings as last read from the port and changed by OpenLink.
// Zero until the link has opened its port once.
struct PortSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t dataBits = 0;
    std::uint8_t parity = kParityNone;     // ParityCode
    std::uint8_t stopBits = kStopBitsOne;  // StopBitsCode
    std::uint8_t rtsControl = 0;           // 1: RTS asserted while the port is open

    bool operator==(const PortSettings&) const = default;
};

// The OpenLink arguments taken from the five texts of the port settings dialog.
struct PortSettingsRequest {
    int baudRate = 0;
    char parity = '\0';  // first character of the parity text, '\0' when empty
    int dataBits = 0;
    int stopBits = 0;
    int sendBufferSize = 0;

    bool operator==(const PortSettingsRequest&) const = default;
};

// Each text by itself: numbers are their leading decimal integer, the parity is
// the text's first character. Nothing is validated here; OpenLink reports what
// the port refuses. "1.5" stop bits reads as 1, as a whole-number field must.
PortSettingsRequest convertDialogTexts(const QString& baudText, const QString& parityText,
                                       const QString& dataBitsText, const QString& stopBitsText,
                                       const QString& sendBufferText);

// Device of COM port n: "COMn" on Windows, /dev/ttyS(n-1) elsewhere.
QString defaultDeviceName(int portNumber);

// The longest command the panel sends (the timer settings) is 6 bytes; a send
// buffer smaller than that could never carry it.
inline constexpr int kMinSendBufferSize = 6;

enum class LineField { Baud, Parity, DataBits, StopBits, SendBuffer };

// The fields of `line` a port of the controller cannot use, in the order
// above. Usable: a baud rate above 0; parity N, O, E, M or S, in either case;
// 5 to 8 data bits; 1 or 2 stop bits; a send buffer of kMinSendBufferSize or more.
std::vector<LineField> unusableLineFields(const PortSettingsRequest& line);

}  // namespace veltra
