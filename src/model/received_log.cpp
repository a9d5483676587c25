#include "model/received_log.h"

#include <algorithm>

namespace veltra {

namespace {

// A sixteenth of the limit, so a full log drops about 6 % at a time; at
// most 65536 lines, so a block's own bookkeeping stays small.
std::size_t blockLinesFor(std::size_t maxLines) {
    return std::clamp<std::size_t>((maxLines + 15) / 16, 1, std::size_t{1} << 16);
}

}  // namespace

ReceivedLog::ReceivedLog(std::size_t maxLines)
    : m_blockLines(blockLinesFor(std::max<std::size_t>(1, maxLines))), m_maxLines(std::max<std::size_t>(1, maxLines)) {}

std::string ReceivedLog::droppedNotice(std::uint64_t dropped) {
    return "--- " + std::to_string(dropped) + (dropped == 1 ? " older line" : " older lines") + " dropped ---";
}

void ReceivedLog::append(std::string_view line) {
    while (m_lines >= m_maxLines && !m_blocks.empty())
        dropOldestBlock();
    if (m_blocks.empty())
        m_blockLines = blockLinesFor(m_maxLines);
    if (m_blocks.empty() || m_blocks.back().ends.size() >= m_blockLines) {
        if (!m_blocks.empty()) {
            // A full block takes no more lines: give back its spare room.
            m_blocks.back().text.shrink_to_fit();
            m_blocks.back().ends.shrink_to_fit();
        }
        m_blocks.emplace_back();
        m_blocks.back().ends.reserve(m_blockLines);
    }
    Block& b = m_blocks.back();
    b.text.append(line);
    b.ends.push_back(static_cast<std::uint32_t>(b.text.size()));
    ++m_lines;
}

void ReceivedLog::dropOldestBlock() {
    m_lines -= m_blocks.front().ends.size();
    m_dropped += m_blocks.front().ends.size();
    m_blocks.pop_front();
    m_notice = droppedNotice(m_dropped);
}

void ReceivedLog::setMaxLines(std::size_t maxLines) {
    m_maxLines = std::max<std::size_t>(1, maxLines);
    // Lines already kept stay in their blocks (a new block size takes effect
    // once the log is empty); the oldest go until the rest fit.
    while (m_lines > m_maxLines && !m_blocks.empty())
        dropOldestBlock();
}

void ReceivedLog::clear() {
    std::deque<Block>().swap(m_blocks);
    m_lines = 0;
    m_dropped = 0;
    std::string().swap(m_notice);
    ++m_generation;
}

std::string_view ReceivedLog::line(std::size_t index) const {
    // A view may ask for a row it counted before lines were dropped.
    if (index >= size())
        return {};
    if (m_dropped != 0) {
        if (index == 0)
            return m_notice;
        --index;
    }
    // Every block but the last holds m_blockLines lines.
    const Block& b = m_blocks[index / m_blockLines];
    const std::size_t i = index % m_blockLines;
    const std::size_t begin = i == 0 ? 0 : b.ends[i - 1];
    return std::string_view(b.text).substr(begin, b.ends[i] - begin);
}

std::size_t ReceivedLog::memoryBytes() const {
    std::size_t total = m_notice.capacity();
    for (const Block& b : m_blocks)
        total += sizeof(Block) + b.text.capacity() + b.ends.capacity() * sizeof(std::uint32_t);
    return total;
}

}  // namespace veltra
