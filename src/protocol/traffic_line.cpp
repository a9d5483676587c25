#include "protocol/traffic_line.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace veltra {

namespace {

// The time, what the line is (TX, RX, --) and the port: the start of every line.
std::string lineStart(std::chrono::system_clock::time_point time, std::string_view what, std::string_view portName) {
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - secs).count();
    if (millis < 0) {  // before 1970: the second below, plus the rest
        secs -= seconds(1);
        millis += 1000;
    }
    const std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm local{};
    {
        // std::localtime shares one buffer: copied out under a lock.
        static std::mutex lock;
        const std::lock_guard<std::mutex> guard(lock);
        if (const std::tm* tm = std::localtime(&t))
            local = *tm;
    }
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    std::string line = stamp;
    line += ' ';
    line += what;
    line += ' ';
    line += escapeControls(portName);
    return line;
}

}  // namespace

std::string escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
            continue;
        }
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
        }
    }
    return out;
}

std::string trafficLine(std::chrono::system_clock::time_point time, bool tx, std::string_view portName,
                        const std::uint8_t* bytes, std::size_t n) {
    std::string line = lineStart(time, tx ? "TX" : "RX", portName);
    static constexpr char kHex[] = "0123456789ABCDEF";
    line.reserve(line.size() + 3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        line += ' ';
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
    }
    return line;
}

std::string trafficEventLine(std::chrono::system_clock::time_point time, std::string_view portName,
                             std::string_view text) {
    std::string line = lineStart(time, "--", portName);
    line += ' ';
    line += escapeControls(text);
    return line;
}

}  // namespace veltra
