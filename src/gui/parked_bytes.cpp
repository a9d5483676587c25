#include "gui/parked_bytes.h"

#include <algorithm>
#include <utility>

namespace veltra {

void ParkedBytes::park(int port, std::uint8_t byte) {
    Ring& r = m_rings.at(static_cast<std::size_t>(port - 1));
    if (r.size == m_limit) {
        // Full: the oldest waiting byte makes room.
        r.head = (r.head + 1) % m_limit;
        --r.size;
        ++r.dropped;
    }
    if (r.buffer.size() < m_limit && r.head + r.size == r.buffer.size()) {
        r.buffer.push_back(byte);  // still growing: no wrap yet
    } else {
        r.buffer[(r.head + r.size) % r.buffer.size()] = byte;
    }
    ++r.size;
    ++r.end;
}

bool ParkedBytes::empty() const {
    return std::all_of(m_rings.begin(), m_rings.end(), [](const Ring& r) { return r.size == 0 && r.dropped == 0; });
}

std::array<std::uint64_t, kPortCount> ParkedBytes::marks() const {
    std::array<std::uint64_t, kPortCount> m{};
    for (std::size_t i = 0; i < m.size(); ++i)
        m[i] = m_rings[i].end;
    return m;
}

std::vector<std::uint8_t> ParkedBytes::take(int port, std::uint64_t mark) {
    Ring& r = m_rings.at(static_cast<std::size_t>(port - 1));
    const std::uint64_t first = r.end - r.size;  // position of the oldest waiting byte
    const std::size_t n = mark > first ? static_cast<std::size_t>(std::min<std::uint64_t>(mark - first, r.size)) : 0;
    std::vector<std::uint8_t> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(r.buffer[(r.head + i) % r.buffer.size()]);
    r.head = r.size == n ? 0 : (r.head + n) % r.buffer.size();
    r.size -= n;
    if (r.size == 0 && r.buffer.capacity() > 4096) {
        // Nothing waits: give the room back, so an idle panel holds none.
        std::vector<std::uint8_t>().swap(r.buffer);
        r.head = 0;
    } else if (r.size == 0) {
        r.buffer.clear();
        r.head = 0;
    }
    return out;
}

std::uint64_t ParkedBytes::takeDropped(int port) {
    return std::exchange(m_rings.at(static_cast<std::size_t>(port - 1)).dropped, 0);
}

std::size_t ParkedBytes::memoryBytes() const {
    std::size_t total = 0;
    for (const Ring& r : m_rings)
        total += r.buffer.capacity();
    return total;
}

}  // namespace veltra
