#pragma once

#include "model/panel_state.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltra {

// A .cfg file is eighteen archived strings back to back: no header, no count,
// no checksum. Records 1-6 and 17 are "%d" numbers, 7-16 the stored delay and
// exposure texts (hours first), 18 the repeat number text. On disk the texts
// are Windows-1252; here they are UTF-8.
inline constexpr std::size_t kConfigRecordCount = 18;
using ConfigRecords = std::array<std::string, kConfigRecordCount>;

// Record indexes (0-based) of the numeric records and the first timer records.
inline constexpr std::size_t kRecShutterPosition = 0;
inline constexpr std::size_t kRecShutterMode = 1;
inline constexpr std::size_t kRecNdSteps = 2;
inline constexpr std::size_t kRecTriggerMode = 3;
inline constexpr std::size_t kRecSyncMode = 4;
inline constexpr std::size_t kRecTimerSelect = 5;
inline constexpr std::size_t kRecDelayFirst = 6;     // 6..10: delayTime hours .. tenths
inline constexpr std::size_t kRecExposureFirst = 11; // 11..15: exposureTime hours .. tenths
inline constexpr std::size_t kRecRunningOption = 16;
inline constexpr std::size_t kRecRepeat = 17;

// Files larger than this are refused unread: a real one is well under 1 KiB.
inline constexpr std::size_t kMaxConfigFileSize = 16u * 1024u * 1024u;

// The records a save writes for this panel state.
ConfigRecords configRecords(const PanelState& s);

// The records as file bytes: each converted to Windows-1252 and written with
// the shortest length prefix (1 byte below 255, 0xFF + 16-bit below 0xFFFE,
// else 0xFF FFFF + 32-bit; all little-endian).
std::string encodeRecords(const ConfigRecords& records);
std::string encodeConfig(const PanelState& s);

// Reads records from the start of `bytes` into `out` and returns how many were
// read completely (kConfigRecordCount for a whole file); the record cut short,
// if any, and those after it are left empty. Accepts all three prefix forms
// and the wide-character form (0xFF, 0xFFFE, a length counting UTF-16 units,
// then UTF-16LE text, narrowed to Windows-1252 as the platform does). Every
// length is checked against the bytes left before anything is allocated.
std::size_t decodeConfigRecords(std::string_view bytes, ConfigRecords& out);

// All eighteen records, or none when the bytes end before the last one is
// complete or a prefix is malformed. Bytes after the eighteenth are ignored.
std::optional<ConfigRecords> decodeConfig(std::string_view bytes);

// Puts loaded records into the panel: stored times, repeat and left-cycle
// texts, radio groups and check boxes, the mode caption and opening/closing
// labels (left alone when the mode is -1), the combo selection, the edits and
// sliders of the selected timer, the cycle time and the three time labels.
// Numbers are read with the leading-integer rule; nothing is range-tested.
void applyConfig(PanelState& s, const ConfigRecords& r);

// Outcome of reading a configuration file from disk.
struct ConfigFileData {
    enum class Status {
        kOk,
        kCannotOpen,  // missing, unreadable or not a regular file: the load stops silently
        kTooLarge,    // bigger than kMaxConfigFileSize
        kReadError,   // opened, but reading failed part way
    };
    Status status = Status::kCannotOpen;
    std::string bytes;  // the whole file when status is kOk
    std::string error;  // human-readable reason otherwise

    bool ok() const { return status == Status::kOk; }
};

ConfigFileData readConfigFile(const std::string& path);

// Saves `bytes` at `path` in one step (see replaceFile): the old file stays
// whole until the new one is complete. Links are written through; a target
// that is not a regular file, or that the user may not write, is refused. On
// failure `error` is "Cannot save "<name>": <why>." and false is returned.
bool writeConfigFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// The archive's end-of-file message for a file cut short:
// "An attempt was made to access <name> past its end." with the base name of
// `fileName`, or "an unnamed file" when it is empty.
std::string pastEndMessage(const std::string& fileName);

}  // namespace veltra
