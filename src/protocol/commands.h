#pragma once

#include "model/controller_settings.h"
#include "model/timer_value.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace veltra {

// First bytes the controller understands. A command is raw bytes: no framing,
// no length, no checksum; the setting prefix 0xFA is followed by a selector.
enum : std::uint8_t {
    CMD_OPEN = 0xAA,
    CMD_CLOSE = 0xAC,
    CMD_STOP = 0xBF,
    CMD_STATUS = 0xCC,
    CMD_POWER_ON = 0xCE,
    CMD_POWER_OFF = 0xCF,
    CMD_FAST = 0xDC,
    CMD_SOFT = 0xDD,
    CMD_NEUTRAL_DENSITY = 0xDE,
    CMD_ONLINE = 0xEE,
    CMD_SETTING = 0xFA,
    CMD_RESET = 0xFB,
    CMD_GET_INFO = 0xFD,
};

// Selectors after 0xFA.
enum : std::uint8_t {
    SEL_DELAY_TIMER = 0x10,
    SEL_EXPOSURE_TIMER = 0x20,
    SEL_TRIGGER_OFF = 0xA0,
    SEL_TRIGGER_BASE = 0xA1,
    SEL_SYNC_OFF = 0xB0,
    SEL_SYNC_BASE = 0xB1,
    SEL_RESTORE_DEFAULT = 0xC0,
    SEL_SAVE_CONFIG = 0xC1,
    SEL_REPEAT = 0xF0,
    SEL_RUNNING_OPTION_BASE = 0xF1,
};

inline constexpr std::uint8_t kCarriageReturn = 0x0D;
inline constexpr int kLongestCommand = 6;

// One command: 1, 2, 4 or 6 bytes.
struct Command {
    std::array<std::uint8_t, kLongestCommand> bytes{};
    int length = 0;

    std::span<const std::uint8_t> data() const {
        return {bytes.data(), static_cast<std::size_t>(length)};
    }
    bool operator==(const Command& o) const {
        return length == o.length && std::equal(bytes.begin(), bytes.begin() + length, o.bytes.begin());
    }
};

Command makeCommand(std::initializer_list<std::uint8_t> bytes);
std::string toHex(const Command& c);  // "FA 21 02 03 45 67"

Command onlineCommand();
Command statusCommand();
Command resetCommand();
Command getInfoCommand();
Command powerOnCommand();
Command powerOffCommand();
Command stopCommand();
// Open for shutterPosition 0, Close for anything else.
Command shutterCommand(int shutterPosition);
// DC, DD, or DE + low eight bits of ndSteps; none for a mode outside 0..2.
std::optional<Command> modeCommand(int shutterMode, int ndSteps);
// FA A0 for -1 (off), FA A1+mode for 0..3; any other value counts as off.
Command triggerCommand(int triggerMode);
// FA B0 for -1 (off), FA B1+mode for 0..1; any other value counts as off.
Command syncCommand(int syncMode);
Command restoreDefaultCommand();
Command saveConfigCommand();
// FA F0 hi lo; the count is sent high byte first, FF FF meaning continuous.
Command repeatCommand(std::uint8_t high, std::uint8_t low);
// High and low count bytes of n: n / 256 and n % 256, truncated toward zero,
// each cut to its low eight bits.
std::array<std::uint8_t, 2> repeatCountBytes(int n);
// FA F1+option for 0..2; none otherwise.
std::optional<Command> runningOptionCommand(int runningOption);

enum class TimerSelector : std::uint8_t { Delay = 1, Exposure = 2 };
// FA (x0+hours) mm ss d1 d2: minutes and seconds as plain counts, the part
// below one second (ms * 10 + tenths) as four packed decimal digits.
Command timerCommand(TimerSelector selector, const TimerValue& value);

}  // namespace veltra
