#include "gui/panel_controls.h"

#include <array>

namespace veltra {

namespace {

using K = ControlKind;

constexpr const char* kRuler1 =
    "|<------------------------------------------------------------------------------->|========||<------------------------------------------------------------------------------->|========|";
constexpr const char* kRuler2 =
    "|<----------------------------------------------------------------------------------------------------------------------------------------------------------------------------------------------------->|";

// Template 102, row for row: id, kind, caption, x, y, w, h (dialog units),
// style, and for controls without a caption the label that names them.
constexpr std::array kRows = std::to_array<ControlRow>({
    {1, K::DefPushButton, "Exit", 501, 408, 41, 14, kNoFlags},
    {1000, K::ListBox, "", 7, 409, 371, 73, kNoFlags, "Data Received from Controller:"},
    {1012, K::Label, "COM 1: ", 18, 19, 26, 8, kNoFlags},
    {1013, K::Label, "COM 2:", 131, 19, 25, 8, kNoFlags},
    {1014, K::Label, "COM 3:", 250, 19, 25, 8, kNoFlags},
    {1015, K::Label, "COM 4:", 365, 19, 25, 8, kNoFlags},
    {1004, K::Edit, "", 44, 17, 69, 12, kCentre, "COM1 status"},
    {1005, K::Edit, "", 159, 18, 69, 12, kCentre, "COM2 status"},
    {1006, K::Edit, "", 276, 17, 69, 12, kCentre, "COM3 status"},
    {1007, K::Edit, "", 393, 17, 69, 12, kCentre, "COM4 status"},
    {kNoId, K::GroupBox, " COM Port Configure and Status ", 7, 7, 537, 48, kNoFlags},
    {1018, K::PushButton, "Clear", 381, 408, 39, 14, kNoFlags},
    {1022, K::PushButton, "Configurate", 43, 33, 45, 14, kNoFlags, "Configurate COM1"},
    {1023, K::PushButton, "Configurate", 159, 33, 45, 14, kNoFlags, "Configurate COM2"},
    {1024, K::PushButton, "Configurate", 276, 33, 45, 14, kNoFlags, "Configurate COM3"},
    {1025, K::PushButton, "Configurate", 393, 33, 45, 14, kNoFlags, "Configurate COM4"},
    {kNoId, K::Label, "Data Received from Controller:", 7, 397, 98, 8, kNoFlags},
    {1122, K::GroupBox, " Veltra Controll Commands ", 7, 59, 539, 330, kNoFlags},
    {1125, K::Label, "Mode ->>", 107, 71, 31, 8, kNoFlags},
    {1124, K::Label, "Status ->>", 15, 71, 34, 8, kNoFlags},
    {1008, K::PushButton, "Online", 481, 306, 41, 14, kNoFlags},
    {1010, K::PushButton, "Status", 399, 306, 41, 14, kNoFlags},
    {1011, K::PushButton, "Reset", 246, 368, 48, 14, kNoFlags},
    {1098, K::Radio, "Open", 57, 71, 33, 10, kGroupStart},
    {1099, K::Radio, "Close", 57, 86, 33, 10, kNoFlags},
    {1101, K::Radio, "Fast", 145, 71, 29, 10, kGroupStart},
    {1102, K::Radio, "Soft", 145, 84, 29, 10, kNoFlags},
    {1103, K::Radio, "Neutral Density", 145, 98, 85, 10, kNoFlags},
    {1034, K::CheckBox, "Trigger Pulse ->>", 215, 71, 66, 10, kNoFlags},
    {1035, K::CheckBox, "SYNC Pulse ->>", 373, 71, 67, 10, kNoFlags},
    {1107, K::Radio, "High for Open", 443, 71, 65, 10, kGroupStart},
    {1108, K::Radio, "Low for Open", 443, 86, 63, 10, kNoFlags},
    {kNoId, K::GroupBox, "Timer", 7, 117, 539, 179, kCentre},
    {kNoId, K::Label, kRuler1, 52, 141, 405, 9, kNoFlags},
    {kNoId, K::Label, "Delay Time - (hr : min : s : ms : 0.1ms)", 76, 132, 124, 9, kCentre},
    {kNoId, K::Label, "Exposure Time - (hr : min : s : ms : 0.1ms)", 274, 133, 134, 9, kCentre},
    {kNoId, K::Label, "Opening", 220, 133, 28, 8, kNoFlags},
    {kNoId, K::Label, "Closing", 426, 133, 24, 8, kNoFlags},
    {1129, K::Label, "00 : 00 : 00 : 000 : 0", 102, 150, 72, 11, kCentre},
    {1130, K::Label, "00 : 00 : 00 : 000 : 0", 306, 150, 72, 11, kCentre},
    {1131, K::Label, "12 ms", 224, 151, 20, 8, kCentre},
    {1132, K::Label, "12 ms", 428, 151, 20, 8, kCentre},
    {kNoId, K::Label, "A", 28, 137, 19, 36, kCentre | kVCentre | kBorder},
    {kNoId, K::Label, "A", 462, 136, 19, 36, kCentre | kVCentre | kBorder},
    {kNoId, K::Label, kRuler2, 52, 161, 405, 9, kNoFlags},
    {1133, K::Label, "Cycle Time  -  00 : 00 : 00 : 000 : 0", 188, 169, 131, 11, kCentre},
    {1135, K::Edit, "", 285, 202, 25, 15, kCentre, "HR"},
    {1136, K::Edit, "", 310, 202, 25, 15, kCentre, "MIN"},
    {1137, K::Edit, "", 336, 202, 25, 15, kCentre, "S"},
    {1138, K::Edit, "", 361, 202, 25, 15, kCentre, "MS"},
    {1139, K::Edit, "", 387, 202, 25, 15, kCentre, ".1MS"},
    {kNoId, K::Label, "HR", 283, 193, 28, 9, kCentre},
    {kNoId, K::Label, "MIN", 310, 193, 28, 9, kCentre},
    {kNoId, K::Label, "S", 334, 193, 28, 9, kCentre},
    {kNoId, K::Label, "MS", 359, 193, 28, 9, kCentre},
    {kNoId, K::Label, ".1MS", 385, 193, 28, 9, kCentre},
    {kNoId, K::Label, "Select Timer:", 28, 203, 43, 9, kNoFlags},
    {1140, K::Slider, "Slider1", 24, 226, 51, 11, kNoFlags, "0 - 0.9 Milliseconds"},
    {1141, K::Slider, "Slider1", 24, 239, 419, 11, kNoFlags, "0 - 999 Milliseconds"},
    {1142, K::Slider, "Slider1", 24, 252, 147, 11, kNoFlags, "0 - 59 Seconds"},
    {1143, K::Slider, "Slider1", 24, 266, 147, 11, kNoFlags, "0 - 59 Minute"},
    {1144, K::Slider, "Slider1", 24, 279, 31, 11, kNoFlags, "0 - 5 Hour"},
    {kNoId, K::Label, "0 - 0.9 Milliseconds", 76, 228, 64, 9, kNoFlags},
    {kNoId, K::Label, "0 - 999 Milliseconds", 445, 239, 64, 9, kNoFlags},
    {kNoId, K::Label, "0 - 59 Seconds", 172, 252, 53, 9, kNoFlags},
    {kNoId, K::Label, "0 - 59 Minute", 172, 266, 53, 9, kNoFlags},
    {kNoId, K::Label, "0 - 5 Hour", 56, 279, 37, 9, kNoFlags},
    {1016, K::PushButton, "Set Timer on Controller", 415, 268, 92, 14, kNoFlags},
    {kNoId, K::GroupBox, " Configuration ", 227, 291, 152, 98, kCentre},
    {1126, K::Label, "Running Option:", 18, 326, 52, 8, kNoFlags},
    {1109, K::Radio, "On Power Up", 73, 326, 58, 10, kGroupStart},
    {1110, K::Radio, "On Trigger Pulse --->", 73, 339, 80, 10, kNoFlags},
    {1111, K::Radio, "Go ------------------------->", 73, 352, 79, 10, kNoFlags},
    {1145, K::Edit, "", 97, 303, 47, 15, kCentre, "Repeat Cycle Number:"},
    {kNoId, K::Label, "Left Cycle Number", 153, 340, 59, 9, kCentre},
    {1017, K::PushButton, "STOP", 24, 367, 38, 14, kNoFlags},
    {1019, K::PushButton, "Restore Default", 304, 368, 58, 14, kNoFlags},
    {1020, K::PushButton, "Save CONFIG to Controller", 245, 306, 101, 14, kNoFlags},
    {1021, K::PushButton, "Save Config.", 245, 328, 48, 14, kNoFlags},
    {1026, K::PushButton, "Load Config.", 245, 347, 48, 14, kNoFlags},
    {1027, K::PushButton, "Apply", 313, 346, 48, 14, kNoFlags},
    {1147, K::DropList, "", 76, 202, 103, 38, kNoFlags, "Select Timer:"},
    {kNoId, K::Label, "Repeat Cycle Number:", 17, 305, 74, 8, kNoFlags},
    {1028, K::PushButton, "Send to Controller", 151, 303, 62, 14, kNoFlags},
    {1148, K::Edit, "", 155, 351, 58, 14, kCentre | kReadOnly, "Left Cycle Number"},
    {1029, K::PushButton, "Get Controller Info", 400, 330, 65, 14, kNoFlags},
    {1149, K::PushButton, "Power Off", 402, 362, 50, 14, kNoFlags},
    {1150, K::PushButton, "Power On", 470, 361, 50, 14, kNoFlags},
    {1104, K::Radio, "Enable on High", 287, 71, 65, 10, kGroupStart},
    {1105, K::Radio, "Enable on Low", 287, 81, 63, 10, kNoFlags},
    {1153, K::Radio, "Trigger on Rising Edge", 287, 91, 88, 10, kNoFlags},
    {1154, K::Radio, "Trigger on Falling Edge", 287, 101, 89, 10, kNoFlags},
});

}  // namespace

const ControlTable kPanelControls{"Veltra Utility - COM v1.12", 569, 489, kRows};

}  // namespace veltra
