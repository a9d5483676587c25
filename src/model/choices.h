#pragma once

#include <optional>

namespace veltra {

// The controller's choices. The panel keeps each one as the index of the
// checked radio button (-1 when none is), the way its widgets need it; the
// functions below are the one place where an index and a choice meet.
enum class ShutterPosition { Open, Closed };
enum class ShutterMode { Fast, Soft, NeutralDensity };
enum class TriggerInput { Off, EnableOnHigh, EnableOnLow, RisingEdge, FallingEdge };
enum class SyncOutput { Off, HighForOpen, LowForOpen };
enum class RunningOption { OnPowerUp, OnTriggerPulse, Go };

// The radio index of a choice: -1 for Off (no button of the group checked).
int radioIndex(ShutterPosition p);
int radioIndex(ShutterMode m);
int radioIndex(TriggerInput t);
int radioIndex(SyncOutput s);
int radioIndex(RunningOption o);

// The choice a radio index stands for; none for an index no button has (and
// for -1 where the group has no Off).
std::optional<ShutterPosition> shutterPositionAt(int index);
std::optional<ShutterMode> shutterModeAt(int index);
std::optional<TriggerInput> triggerInputAt(int index);
std::optional<SyncOutput> syncOutputAt(int index);
std::optional<RunningOption> runningOptionAt(int index);

}  // namespace veltra
