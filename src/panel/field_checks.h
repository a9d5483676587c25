#pragma once

#include "model/timer_value.h"
#include "protocol/apply_download.h"

#include <optional>
#include <string>

namespace veltra {

// Messages of the panel, exactly as the operator sees them.
namespace msg {
inline constexpr const char* kRepeatFirst = "Please set the repeat number first, then try again!";
inline constexpr const char* kStepsTooMany = "Steps must be less than 145. Please try again!";
inline constexpr const char* kNoSteps = "No steps. Please enter the number!";
inline constexpr const char* kTimerMax = "Timer has reached the maximum value - 5 hours.";
inline constexpr const char* kRestoreDefault =
    "This will restore the factory default configurations for Veltra controller!\nAre you sure?\n\n"
    "Click OK to restore or Cancel to dismiss?";
inline constexpr const char* kSaveConfig =
    "This will save all the current configurations to Veltra controller,\nthe new configurations will "
    "be the initial setting when the controller\npower up next time!\n\nClick OK to save or Cancel to "
    "dismiss?";
inline constexpr const char* kNegativeRepeat =
    "Repeat cycle number must not be negative! Please retype.";
inline constexpr const char* kRepeatTooLarge =
    "Repeat cycle number must be less than 65536! Please retype.";
inline constexpr const char* kNegativeSteps = "Steps must not be negative. Please try again!";
inline constexpr const char* kBadPosition = "Shutter must be Open or Close! Please choose one.";
inline constexpr const char* kBadMode = "Shutter mode must be Fast, Soft or Neutral Density! Please choose one.";
inline constexpr const char* kBadTrigger = "Trigger input setting is not one of the four! Please choose one.";
inline constexpr const char* kBadSync = "SYNC output setting is not one of the two! Please choose one.";
inline constexpr const char* kBadRunningOption = "Running option is not one of the three! Please choose one.";
inline constexpr const char* kNoPort = "No COM port is connected: the command was not sent.";
// "COM%d is not connected: the command was not sent."
std::string portNotConnected(int port);
// The field's own message when its value is out of range.
const char* fieldLimitMessage(int field);
}  // namespace msg

inline constexpr int kMaxNdSteps = 144;
// "Send to Controller" takes counts up to this; above it means continuous.
inline constexpr int kMaxRepeatCount = 65000;

// The one set of field checks: every value that goes to the controller passes
// the same check whichever control, file or script it comes from. Each returns
// the message to show, or none when the value may go out.

// The steps dialog's OK check: any non-empty text whose leading integer is 0..144.
std::optional<std::string> checkNdSteps(const std::string& steps);
// One time field of the editor as typed (0..its maximum); `atMaximum` when
// the hours already read 5.
std::optional<std::string> checkTimeField(int field, const std::string& text, bool atMaximum);
// A whole timer before it is programmed: each field in range, nothing past 5 hours.
std::optional<std::string> checkTimer(const TimerValue& t);
// The repeat text of a download: "Continuous" or a count of 0..65535.
std::optional<std::string> checkRepeatForApply(const std::string& repeatText);
// Everything a download will send, in the order it sends it.
std::optional<std::string> checkApplySettings(const ControllerSettings& s);
// One step's value as it is about to go out.
std::optional<std::string> checkApplyStep(ApplyStep step, const ControllerSettings& s);

}  // namespace veltra
