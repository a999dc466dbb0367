#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/session/control_catalog.h"
#include "app/session/flow_loader.h"
#include "host/operator.h"

namespace lumets {

// A button pressed before the request of a frame; File answers the dialog the
// press opens.
struct BoundEvent {
    int64_t Frame = 0;
    const ControlInfo* Info = nullptr;
    std::optional<std::string> File;
};

// Resolves the events' control names; only push buttons can be pressed.
std::vector<BoundEvent> BindEvents(const std::vector<FlowEvent>& events, const ControlCatalog& catalog);

// Hands the flow's control values to the tool the way a user's edits would reach
// it: the input's value is set, then the tool's change notification runs.
class ControlDriver {
public:
    ControlDriver(Operator* op, std::vector<ControlTrack> tracks, std::vector<BoundEvent> events);

    // Sets every control's value at the time without notifying (a restored flow's
    // values, in place before the tool joins its flow).
    void SetValues(double time);
    // Notifies the tool of every control set by the flow, in the flow's order.
    void NotifyAll(double time);
    // Before a frame's request: keyframed values that changed since they were last
    // handed over are set and notified, then the frame's events are pressed.
    void BeforeFrame(double time, bool withEvents = true);

    // Puts the keyframed controls' values back as they were handed over for the
    // frame at `time` (values only: the tool's own state is restored with them).
    void Rewind(double time);

    // A user's edit of one control: value, then change notification.
    void Set(const ControlInfo& info, const ControlValue& value, double time);
    // A button press; a file, when given, is queued as the answer to the dialog the
    // press opens.
    void Press(const ControlInfo& info, double time, const std::optional<std::string>& file = std::nullopt);

    const std::vector<ControlTrack>& Tracks() const { return TrackList; }

private:
    void Notify(const ControlInfo& info, Parameter* value, double time);

    Operator* Op;
    std::vector<ControlTrack> TrackList;
    std::vector<BoundEvent> Events;
    std::vector<std::optional<ControlValue>> Handed;  // last value handed over, per track
};

}  // namespace lumets
