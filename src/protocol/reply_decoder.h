#pragma once

#include "model/panel_state.h"
#include "protocol/command_sink.h"
#include "protocol/protocol_state.h"

#include <cstdint>
#include <string>

namespace veltra {

// What took a received byte (the handler's result).
enum RxResult : int {
    kRxIgnored = -1,    // port number out of range
    kRxStatus = 0,      // logged and given to the status decoding
    kRxInfo = 1,        // collected as controller information
    kRxOnline = 2,      // the start-up Online echo
    kRxRun = 3,         // counted by a followed run
    kRxApply = 4,       // counted by the Apply download
    kRxAutoStatus = 5,  // the carriage return after Reset: Status sent
};

inline constexpr const char* kContinuousText = "Continuous";
inline constexpr const char* kReadyText = "Ready for Veltra";

// Log lines: the decimal value, blanks, then 0x and two hex digits; the
// blanks keep the hex column in place (11, 9 or 7 of them).
std::string normalLogLine(std::uint8_t byte);
// Run counting logs with 9 blanks below 100 and 7 from 100 on.
std::string runLogLine(std::uint8_t byte);
// Opening time of n neutral-density steps as shown by a status reply.
std::string ndOpeningText(int steps, double factor);

// The reply decoder: one call per received byte, in arrival order. Replies
// have no framing; they are recognised by the protocol state, by a few leading
// byte values and by counting. The position inside a status reply is the
// decoder's own (never the log's selection).
class ReplyDecoder {
public:
    ReplyDecoder(ProtocolState& protocol, CommandSink& sink) : m_p(protocol), m_sink(sink) {}

    int onPortRxChar(PanelState& s, int byte, int port);

private:
    void collectInfo(PanelState& s, std::uint8_t b);
    void countRun(PanelState& s, std::uint8_t b);
    void decodeStatus(PanelState& s, std::uint8_t b);
    void decodeField(PanelState& s, int position, std::uint8_t b);
    void endOfReply(PanelState& s);

    ProtocolState& m_p;
    CommandSink& m_sink;
};

}  // namespace veltra
