#include "protocol/commands.h"

#include <algorithm>
#include <cstdio>

namespace veltra {

namespace {
std::uint8_t low8(long long v) { return static_cast<std::uint8_t>(static_cast<unsigned long long>(v) & 0xFFu); }
}  // namespace

Command makeCommand(std::initializer_list<std::uint8_t> bytes) {
    Command c;
    c.length = static_cast<int>(std::min<std::size_t>(bytes.size(), kLongestCommand));
    std::copy_n(bytes.begin(), c.length, c.bytes.begin());
    return c;
}

std::string toHex(const Command& c) {
    std::string out;
    char buf[4];
    for (int i = 0; i < c.length; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", c.bytes[static_cast<std::size_t>(i)]);
        if (i) out.push_back(' ');
        out += buf;
    }
    return out;
}

Command onlineCommand() { return makeCommand({CMD_ONLINE}); }
Command statusCommand() { return makeCommand({CMD_STATUS}); }
Command resetCommand() { return makeCommand({CMD_RESET}); }
Command getInfoCommand() { return makeCommand({CMD_GET_INFO}); }
Command powerOnCommand() { return makeCommand({CMD_POWER_ON}); }
Command powerOffCommand() { return makeCommand({CMD_POWER_OFF}); }
Command stopCommand() { return makeCommand({CMD_STOP}); }

Command shutterCommand(int shutterPosition) {
    return makeCommand({shutterPosition == 0 ? CMD_OPEN : CMD_CLOSE});
}

std::optional<Command> modeCommand(int shutterMode, int ndSteps) {
    switch (shutterMode) {
    case 0: return makeCommand({CMD_FAST});
    case 1: return makeCommand({CMD_SOFT});
    case 2: return makeCommand({CMD_NEUTRAL_DENSITY, low8(ndSteps)});
    default: return std::nullopt;
    }
}

Command triggerCommand(int triggerMode) {
    if (triggerMode < 0 || triggerMode > 3) return makeCommand({CMD_SETTING, SEL_TRIGGER_OFF});
    return makeCommand({CMD_SETTING, static_cast<std::uint8_t>(SEL_TRIGGER_BASE + triggerMode)});
}

Command syncCommand(int syncMode) {
    if (syncMode < 0 || syncMode > 1) return makeCommand({CMD_SETTING, SEL_SYNC_OFF});
    return makeCommand({CMD_SETTING, static_cast<std::uint8_t>(SEL_SYNC_BASE + syncMode)});
}

Command restoreDefaultCommand() { return makeCommand({CMD_SETTING, SEL_RESTORE_DEFAULT}); }
Command saveConfigCommand() { return makeCommand({CMD_SETTING, SEL_SAVE_CONFIG}); }

Command repeatCommand(std::uint8_t high, std::uint8_t low) {
    return makeCommand({CMD_SETTING, SEL_REPEAT, high, low});
}

std::array<std::uint8_t, 2> repeatCountBytes(int n) {
    return {low8(n / 256), low8(n % 256)};
}

std::optional<Command> runningOptionCommand(int runningOption) {
    if (runningOption < 0 || runningOption > 2) return std::nullopt;
    return makeCommand({CMD_SETTING, static_cast<std::uint8_t>(SEL_RUNNING_OPTION_BASE + runningOption)});
}

Command timerCommand(TimerSelector selector, const TimerValue& value) {
    const long long hours = value.value(kHours);
    const long long v = value.value(kMilliseconds);
    const long long t = value.value(kTenths);
    const long long sel = static_cast<long long>(selector) * 16;
    return makeCommand({CMD_SETTING, low8(sel + hours), low8(value.value(kMinutes)),
                        low8(value.value(kSeconds)), low8((v / 100) * 16 + (v % 100) / 10),
                        low8(((v % 100) % 10) * 16 + t)});
}

}  // namespace veltra
