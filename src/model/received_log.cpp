#include "model/received_log.h"

namespace veltra {

void ReceivedLog::append(std::string_view line) {
    m_text.append(line);
    m_ends.push_back(m_text.size());
}

void ReceivedLog::clear() {
    std::string().swap(m_text);
    std::vector<std::size_t>().swap(m_ends);
    ++m_generation;
}

std::string_view ReceivedLog::line(std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : m_ends[index - 1];
    return std::string_view(m_text).substr(begin, m_ends[index] - begin);
}

}  // namespace veltra
