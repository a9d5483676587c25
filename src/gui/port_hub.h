#pragma once

#include "model/panel_state.h"
#include "protocol/command_sink.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class QObject;
class QString;

namespace veltra {

class CComPortLink;

// The panel's four serial links, COM1 to COM4, and the command sink that
// writes to them.
class PortHub : public CommandSink {
public:
    // The links become children of `owner` and live as long as it does.
    explicit PortHub(QObject* owner);

    // port is 1..4.
    CComPortLink& link(int port);
    const CComPortLink& link(int port) const;

    // Hands the command to the link of `port`; false when that port is not
    // open or refuses the bytes.
    bool send(int port, const Command& command) override;

    // Every write that goes out and every chunk received, on any port, in order.
    using TrafficHandler = std::function<void(int port, bool sent, const std::uint8_t* bytes, std::size_t n)>;
    void setTrafficHandler(const TrafficHandler& handler);
    // Every link's events (opened, closed and why, reconnect tries, reconnected).
    using EventHandler = std::function<void(int port, const QString& text)>;
    void setEventHandler(const EventHandler& handler);

private:
    std::array<CComPortLink*, kPortCount> m_links{};
};

// Received bytes that wait while the panel is busy in a box or dialog: raw
// bytes, per port, at most `limit` of them per port. Beyond that the oldest
// waiting bytes are dropped and counted. Positions count every byte parked
// on a port since the start, so a caller can take "what came up to here".
class ParkedBytes {
public:
    static constexpr std::size_t kDefaultLimit = std::size_t{4} << 20;  // 4 MiB per port

    explicit ParkedBytes(std::size_t limit = kDefaultLimit) : m_limit(limit) {}

    void park(int port, std::uint8_t byte);
    bool empty() const;
    // Where the bytes parked so far end, per port (index port - 1).
    std::array<std::uint64_t, kPortCount> marks() const;
    // The bytes of `port` parked before `mark` that are still waiting (the
    // dropped ones are gone), oldest first; they stop waiting.
    std::vector<std::uint8_t> take(int port, std::uint64_t mark);
    // Bytes of `port` dropped since the last call; the count starts over.
    std::uint64_t takeDropped(int port);
    // Room the waiting bytes occupy, for all ports.
    std::size_t memoryBytes() const;

private:
    struct Ring {
        std::vector<std::uint8_t> buffer;  // grows to the limit, then wraps
        std::size_t head = 0;              // oldest waiting byte
        std::size_t size = 0;
        std::uint64_t end = 0;             // position after the newest byte
        std::uint64_t dropped = 0;
    };
    std::size_t m_limit;
    std::array<Ring, kPortCount> m_rings{};
};

}  // namespace veltra
