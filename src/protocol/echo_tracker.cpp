#include "protocol/echo_tracker.h"

namespace veltra {

bool startsReply(const Command& c) {
    return c.length == 1 && (c.bytes[0] == CMD_STATUS || c.bytes[0] == CMD_GET_INFO || c.bytes[0] == CMD_ONLINE);
}

void EchoTracker::sent(const Command& command) {
    if (command.length <= 0) return;
    if (m_queue.size() == kMaxQueued) {
        m_queue.pop_front();
        m_pos = 0;
    }
    m_queue.push_back(command);
}

void EchoTracker::clear() {
    m_queue.clear();
    m_pos = 0;
    m_afterEcho = false;
}

EchoMatch EchoTracker::match(std::uint8_t byte) {
    // A Status, Get Controller Info or Online that was never answered (no
    // controller yet, or an unanswered probe) does not hold up the echo of
    // what was sent after it.
    while (m_queue.size() > 1 && m_pos == 0 && startsReply(m_queue.front()) && byte != m_queue.front().bytes[0])
        m_queue.pop_front();
    if (m_queue.empty()) return EchoMatch::None;
    const Command& head = m_queue.front();
    if (byte == head.bytes[static_cast<std::size_t>(m_pos)]) {
        if (startsReply(head)) {
            // A reply follows whose bytes are no echo of anything (the decoder
            // takes them without asking here); what was sent behind this
            // command is echoed after them.
            m_queue.pop_front();
            m_pos = 0;
            m_afterEcho = false;
            return EchoMatch::Starter;
        }
        m_afterEcho = false;
        if (++m_pos == head.length) {
            m_echoed = head;
            m_queue.pop_front();
            m_pos = 0;
            m_afterEcho = true;
        }
        return EchoMatch::Echo;
    }
    if (m_afterEcho && m_pos == 0 && byte == kCarriageReturn) {
        m_afterEcho = false;
        m_closed = m_echoed;
        return EchoMatch::Closing;
    }
    clear();
    return EchoMatch::None;
}

}  // namespace veltra
