#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace veltra {

// The received-data log: one text line per entry, appended at the end and
// emptied by "Clear". It keeps at most maxLines() lines: when a line would
// go beyond that, the oldest lines are dropped a block at a time (a
// sixteenth of the limit, at most 65536 lines), and from then on the first
// row says how many older lines were dropped. Lines live back to back in block-sized buffers,
// so a million lines cost their characters plus four bytes each, and
// dropping a block frees it at once.
class ReceivedLog {
public:
    static constexpr std::size_t kDefaultMaxLines = 1'000'000;

    ReceivedLog() : ReceivedLog(kDefaultMaxLines) {}
    explicit ReceivedLog(std::size_t maxLines);

    void append(std::string_view line);
    void clear();
    // Rows: the dropped-lines notice (once lines were dropped), then the lines kept.
    std::size_t size() const { return m_lines + (m_dropped != 0 ? 1 : 0); }
    bool empty() const { return size() == 0; }
    // Empty for an index past the end.
    std::string_view line(std::size_t index) const;
    std::string_view back() const { return line(size() - 1); }
    // Changes whenever the log is emptied, so a view can tell a clear followed
    // by new lines from plain appends.
    std::uint64_t generation() const { return m_generation; }
    std::size_t memoryBytes() const;

    // At least 1; a smaller log drops its oldest lines now.
    void setMaxLines(std::size_t maxLines);
    std::size_t maxLines() const { return m_maxLines; }
    // Lines dropped from the front since the last clear; a view that has
    // shown rows moves them up by the growth of this count.
    std::uint64_t droppedLines() const { return m_dropped; }
    // Every line appended since the last clear, dropped or kept.
    std::uint64_t appendedLines() const { return m_dropped + m_lines; }
    // The first row's text once `dropped` lines are gone.
    static std::string droppedNotice(std::uint64_t dropped);

private:
    struct Block {
        std::string text;
        std::vector<std::uint32_t> ends;  // end of each line within text
    };
    void dropOldestBlock();

    std::deque<Block> m_blocks;  // all full but the last
    std::size_t m_blockLines;
    std::size_t m_maxLines;
    std::size_t m_lines = 0;
    std::uint64_t m_dropped = 0;
    std::string m_notice;
    std::uint64_t m_generation = 0;
};

}  // namespace veltra
