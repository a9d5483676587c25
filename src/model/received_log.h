#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltra {

// The received-data log: one text line per entry, appended at the end and
// emptied only by "Clear". Lines live back to back in one buffer, so a
// million lines cost their characters plus one offset each.
class ReceivedLog {
public:
    void append(std::string_view line);
    void clear();
    std::size_t size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }
    std::string_view line(std::size_t index) const;
    std::string_view back() const { return line(size() - 1); }
    // Changes whenever the log is emptied, so a view can tell a clear followed
    // by new lines from plain appends.
    std::uint64_t generation() const { return m_generation; }
    std::size_t memoryBytes() const { return m_text.capacity() + m_ends.capacity() * sizeof(std::size_t); }

private:
    std::string m_text;
    std::vector<std::size_t> m_ends;
    std::uint64_t m_generation = 0;
};

}  // namespace veltra
