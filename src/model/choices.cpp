#include "model/choices.h"

namespace veltra {

namespace {

// Groups with an Off: Off is -1, the buttons follow from 0.
template <typename E>
int offFirstIndex(E e) {
    return static_cast<int>(e) - 1;
}

template <typename E>
std::optional<E> offFirstAt(int index, E last) {
    if (index < -1 || index > offFirstIndex(last)) return std::nullopt;
    return static_cast<E>(index + 1);
}

template <typename E>
std::optional<E> plainAt(int index, E last) {
    if (index < 0 || index > static_cast<int>(last)) return std::nullopt;
    return static_cast<E>(index);
}

}  // namespace

int radioIndex(ShutterPosition p) { return static_cast<int>(p); }
int radioIndex(ShutterMode m) { return static_cast<int>(m); }
int radioIndex(TriggerInput t) { return offFirstIndex(t); }
int radioIndex(SyncOutput s) { return offFirstIndex(s); }
int radioIndex(RunningOption o) { return static_cast<int>(o); }

std::optional<ShutterPosition> shutterPositionAt(int index) { return plainAt(index, ShutterPosition::Closed); }
std::optional<ShutterMode> shutterModeAt(int index) { return plainAt(index, ShutterMode::NeutralDensity); }
std::optional<TriggerInput> triggerInputAt(int index) { return offFirstAt(index, TriggerInput::FallingEdge); }
std::optional<SyncOutput> syncOutputAt(int index) { return offFirstAt(index, SyncOutput::LowForOpen); }
std::optional<RunningOption> runningOptionAt(int index) { return plainAt(index, RunningOption::Go); }

}  // namespace veltra
