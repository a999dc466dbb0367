#include "app/session/control_driver.h"

#include "app/io/errors.h"
#include "host/parameters.h"
#include "host/platform.h"

namespace lumets {

std::vector<BoundEvent> BindEvents(const std::vector<FlowEvent>& events, const ControlCatalog& catalog) {
    std::vector<BoundEvent> out;
    for (const FlowEvent& e : events) {
        const ControlInfo& info = catalog.Require(e.Press);
        if (!info.Button) throw UserError("event at frame " + std::to_string(e.Frame) + ": \"" + e.Press +
                                          "\" is not a button");
        out.push_back(BoundEvent{e.Frame, &info, e.File});
    }
    return out;
}

ControlDriver::ControlDriver(Operator* op, std::vector<ControlTrack> tracks, std::vector<BoundEvent> events)
    : Op(op), TrackList(std::move(tracks)), Events(std::move(events)), Handed(TrackList.size()) {}

void ControlDriver::Notify(const ControlInfo& info, Parameter* value, double time) {
    // Text buttons are read by the tool as numbers: a value set (not a press) is
    // announced as "not pressed".
    if (info.Button && info.Type == DT_Text) {
        Number* notPressed = new Number(0.0);
        Op->NotifyChanged(info.In, notPressed, time);
        notPressed->Recycle();
        return;
    }
    Op->NotifyChanged(info.In, value, time);
}

void ControlDriver::SetValues(double time) {
    for (size_t i = 0; i < TrackList.size(); ++i) {
        ControlValue v = TrackList[i].At(time);
        Parameter* p = MakeParameter(v);
        TrackList[i].Info->In->SetValue(p, time, 1);
        p->Recycle();
        Handed[i] = std::move(v);
    }
}

void ControlDriver::Rewind(double time) {
    for (size_t i = 0; i < TrackList.size(); ++i) {
        if (!TrackList[i].Animated) continue;
        ControlValue v = TrackList[i].At(time);
        Parameter* p = MakeParameter(v);
        TrackList[i].Info->In->SetValue(p, time, 1);
        p->Recycle();
        Handed[i] = std::move(v);
    }
}

void ControlDriver::NotifyAll(double time) {
    for (size_t i = 0; i < TrackList.size(); ++i) {
        const ControlInfo& info = *TrackList[i].Info;
        Parameter* p = info.In->GetValue(time);
        Notify(info, p, time);
        if (p) p->Recycle();
    }
}

void ControlDriver::Set(const ControlInfo& info, const ControlValue& value, double time) {
    Parameter* p = MakeParameter(value);
    info.In->SetValue(p, time, 1);
    Notify(info, p, time);
    p->Recycle();
    for (size_t i = 0; i < TrackList.size(); ++i)
        if (TrackList[i].Info == &info) Handed[i] = value;
}

void ControlDriver::Press(const ControlInfo& info, double time, const std::optional<std::string>& file) {
    if (file) platform::Default().QueueDialogAnswer(*file);
    Parameter* value = info.Type == DT_Text ? static_cast<Parameter*>(new Text(file.value_or("")))
                                            : static_cast<Parameter*>(new Number(1.0));
    info.In->SetValue(value, time, 1);
    Number* pressed = new Number(1.0);
    Op->NotifyChanged(info.In, pressed, time);
    pressed->Recycle();
    value->Recycle();
}

void ControlDriver::BeforeFrame(double time, bool withEvents) {
    for (size_t i = 0; i < TrackList.size(); ++i) {
        if (!TrackList[i].Animated) continue;
        ControlValue v = TrackList[i].At(time);
        if (Handed[i] && *Handed[i] == v) continue;
        Set(*TrackList[i].Info, v, time);
    }
    if (!withEvents) return;
    for (const BoundEvent& e : Events)
        if (double(e.Frame) == time) Press(*e.Info, time, e.File);
}

}  // namespace lumets
