#pragma once

#include "gui/control_table.h"

namespace veltra {

// The main panel's controls (dialog template 102), in tab order.
extern const ControlTable kPanelControls;

// Control ids of the main panel.
namespace ctl {
inline constexpr int kExit = 1;
inline constexpr int kReceivedList = 1000;
inline constexpr int kStatusCom1 = 1004;  // .. 1007 for COM4
inline constexpr int kSetTimer = 1016;
inline constexpr int kStop = 1017;
inline constexpr int kClear = 1018;
inline constexpr int kRestoreDefault = 1019;
inline constexpr int kSaveConfigToController = 1020;
inline constexpr int kSaveConfigFile = 1021;
inline constexpr int kConfigurateCom1 = 1022;  // .. 1025 for COM4
inline constexpr int kLoadConfigFile = 1026;
inline constexpr int kApply = 1027;
inline constexpr int kSendRepeat = 1028;
inline constexpr int kGetInfo = 1029;
inline constexpr int kTriggerPulse = 1034;
inline constexpr int kSyncPulse = 1035;
inline constexpr int kOnline = 1008;
inline constexpr int kStatus = 1010;
inline constexpr int kReset = 1011;
inline constexpr int kOpen = 1098;
inline constexpr int kClose = 1099;
inline constexpr int kFast = 1101;
inline constexpr int kSoft = 1102;
inline constexpr int kNeutralDensity = 1103;
inline constexpr int kEnableOnHigh = 1104;
inline constexpr int kEnableOnLow = 1105;
inline constexpr int kHighForOpen = 1107;
inline constexpr int kLowForOpen = 1108;
inline constexpr int kOnPowerUp = 1109;
inline constexpr int kOnTriggerPulse = 1110;
inline constexpr int kGo = 1111;
inline constexpr int kDelayLabel = 1129;
inline constexpr int kExposureLabel = 1130;
inline constexpr int kOpeningLabel = 1131;
inline constexpr int kClosingLabel = 1132;
inline constexpr int kCycleLabel = 1133;
inline constexpr int kHourEdit = 1135;
inline constexpr int kMinuteEdit = 1136;
inline constexpr int kSecondEdit = 1137;
inline constexpr int kMsEdit = 1138;
inline constexpr int kTenthMsEdit = 1139;
inline constexpr int kTenthMsSlider = 1140;
inline constexpr int kMsSlider = 1141;
inline constexpr int kSecondSlider = 1142;
inline constexpr int kMinuteSlider = 1143;
inline constexpr int kHourSlider = 1144;
inline constexpr int kRepeatEdit = 1145;
inline constexpr int kTimerSelect = 1147;
inline constexpr int kLeftCycleEdit = 1148;
inline constexpr int kPowerOff = 1149;
inline constexpr int kPowerOn = 1150;
inline constexpr int kRisingEdge = 1153;
inline constexpr int kFallingEdge = 1154;
}  // namespace ctl

// Edit and slider of each timer field, indexed by TimerField (hours first).
inline constexpr int kTimeEditIds[] = {ctl::kHourEdit, ctl::kMinuteEdit, ctl::kSecondEdit, ctl::kMsEdit,
                                       ctl::kTenthMsEdit};
inline constexpr int kTimeSliderIds[] = {ctl::kHourSlider, ctl::kMinuteSlider, ctl::kSecondSlider,
                                         ctl::kMsSlider, ctl::kTenthMsSlider};

// Items of the "Select Timer:" list, in order.
inline constexpr const char* kTimerSelectItems[] = {"Delay Time", "Exposure Time", ""};

}  // namespace veltra
