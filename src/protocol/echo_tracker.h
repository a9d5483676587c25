#pragma once

#include "protocol/commands.h"

#include <cstdint>
#include <deque>

namespace veltra {

// What one received byte is to the commands sent on its port.
enum class EchoMatch : std::uint8_t {
    None,     // not an echo: decoded as it comes
    Echo,     // repeats the next byte of a command sent: only logged
    Starter,  // the echo of Status, Get Controller Info or Online: starts their reply
    Closing,  // the carriage return right after a whole echo: closes that command's answer
};

// The controller echoes every command. Received bytes that repeat, in order,
// the bytes of the commands sent on one port are their echo. The first byte
// that does not continue the echo ends the expectation (a controller that does
// not echo is unaffected); only the carriage return that closes an echoed
// command is let through without ending the echo of a command queued after it,
// and an unanswered Status, Get Controller Info or Online is passed over.
// The echo of Status or Get Controller Info starts a reply (19 or 12 bytes)
// that the decoder takes whole without asking here; the commands queued
// behind it stay expected after those bytes.
class EchoTracker {
public:
    void sent(const Command& command);
    EchoMatch match(std::uint8_t byte);
    void clear();
    bool expecting() const { return !m_queue.empty(); }
    // The command whose answer the last Closing carriage return closed.
    const Command& closed() const { return m_closed; }

private:
    // Commands sent and not yet echoed. A controller that echoes answers each
    // within a few bytes; more than this many queued means it does not.
    static constexpr std::size_t kMaxQueued = 16;
    std::deque<Command> m_queue;
    int m_pos = 0;              // bytes of the front command already echoed
    bool m_afterEcho = false;   // a command's echo has just completed
    Command m_echoed;           // that command
    Command m_closed;
};

// Status, Get Controller Info and Online: their echo starts a reply.
bool startsReply(const Command& command);

}  // namespace veltra
