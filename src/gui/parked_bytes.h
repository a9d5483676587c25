#pragma once

#include "model/ports.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltra {

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
