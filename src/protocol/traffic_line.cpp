#include "protocol/traffic_line.h"

#include <cstdio>
#include <ctime>

namespace veltra {

std::string trafficLine(std::chrono::system_clock::time_point time, bool tx, std::string_view portName,
                        const std::uint8_t* bytes, std::size_t n) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch());
    const auto whole = floor<seconds>(ms);
    const auto secondsSinceEpoch = static_cast<std::time_t>(whole.count());
    std::tm local{};
    ::localtime_r(&secondsSinceEpoch, &local);
    char stamp[48];
    const std::size_t used = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(stamp + used, sizeof stamp - used, ".%03d", static_cast<int>((ms - whole).count()));

    std::string line = stamp;
    line += tx ? " TX " : " RX ";
    line += portName;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < n; ++i) {
        line += ' ';
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
    }
    return line;
}

}  // namespace veltra
