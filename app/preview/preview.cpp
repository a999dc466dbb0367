#include "app/preview/preview.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/io/errors.h"
#include "app/io/frame_pattern.h"
#include "app/io/image_io.h"
#include "app/io/input_files.h"
#include "app/session/control_listing.h"
#include "app/session/session.h"
#include "host/parameters.h"
#include "host/platform.h"
#include "host/tags.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

// Frames kept for quick scrubbing, by total PNG size.
constexpr size_t CacheLimit = 256u << 20;

Json ValueJson(const ControlValue& v) {
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* p = std::get_if<PointValue>(&v)) return Json::array({p->X, p->Y});
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* l = std::get_if<PolyLineValue>(&v)) {
        Json points = Json::array();
        for (const PolyPointValue& q : l->Points)
            points.push_back(Json{{"x", q.X}, {"y", q.Y}, {"in", {q.InX, q.InY}}, {"out", {q.OutX, q.OutY}}});
        return Json{{"closed", l->Closed}, {"points", points}};
    }
    return Json{{"table", std::get<std::vector<uint16_t>>(v)}};
}

Json ParameterJson(const Parameter* p) {
    if (!p) return nullptr;
    switch (p->DataType) {
        case DT_Number: return static_cast<const Number*>(p)->Value;
        case DT_Point: {
            const auto* q = static_cast<const Point*>(p);
            return Json::array({q->X, q->Y});
        }
        case DT_Text: return static_cast<const Text*>(p)->Value;
        case DT_LookUpTable: return Json{{"table", static_cast<const LookUpTable*>(p)->Table}};
        case DT_PolyLine: {
            const auto* l = static_cast<const PolyLine*>(p);
            Json points = Json::array();
            const PolyPoint* q = l->First();
            for (int32_t i = 0; q && i < l->GetCount(); ++i, ++q)
                points.push_back(Json{{"x", q->X}, {"y", q->Y}, {"in", {q->InDX, q->InDY}}, {"out", {q->OutDX, q->OutDY}}});
            return Json{{"closed", l->Closed}, {"points", points}};
        }
        default: return nullptr;
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    if (!in) throw UserError("cannot read " + path);
    return out.str();
}

// The key under which the flow's controls hold a control (the flow may use the
// member name or the ID), or empty.
std::string KeyInFlow(const Json& controls, const ControlCatalog& catalog, const ControlInfo& info) {
    for (const auto& [k, v] : controls.items()) {
        (void)v;
        if (catalog.Find(k) == &info) return k;
    }
    return {};
}

bool IsKeyframed(const Json& v) { return v.is_object() && v.contains("keys"); }

bool HasControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; });
}

// A text control that is not a button is a file the tool opens: SystemFile, the
// motion data loaded when the flow is opened.
bool IsFileNameControl(const ControlInfo& info) { return info.Type == DT_Text && !info.Button; }

// Undo keeps this many edits (and redo as many).
constexpr size_t HistoryLimit = 200;

// Values from the page are rounded before they enter the flow, so that a drag's
// long fractions never reach the file and the frames shown are those of the
// values saved: numbers to 6 significant digits, positions (points, polyline
// points and their handles) and curve points to 1e-4 (of the picture, of the
// curve's range). A value typed with fewer digits is kept as typed.
double Significant(double v, int digits) {
    if (!std::isfinite(v) || v == 0.0) return v;
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    return std::strtod(text, nullptr);
}
double ToStep(double v) {
    if (!std::isfinite(v)) return v;
    const double r = std::round(v * 1e4) / 1e4;
    return r == 0.0 ? 0.0 : r;  // no -0
}
void RoundPair(Json& pair) {
    if (!pair.is_array()) return;
    for (Json& c : pair)
        if (c.is_number_float()) c = ToStep(c.get<double>());
}

Json RoundedValue(const ControlInfo& info, const Json& given) {
    Json v = given;
    if (v.is_object() && v.contains("keys") && v["keys"].is_array()) {
        for (Json& k : v["keys"])
            if (k.is_array() && k.size() == 2) k[1] = RoundedValue(info, k[1]);
        return v;
    }
    switch (info.Type) {
        case DT_Number:
            if (v.is_number_float()) v = info.Integer ? std::round(v.get<double>()) : Significant(v.get<double>(), 6);
            break;
        case DT_Point: RoundPair(v); break;
        case DT_PolyLine:
            if (v.is_object() && v.contains("points") && v["points"].is_array())
                for (Json& q : v["points"]) {
                    if (q.is_array()) RoundPair(q);
                    if (!q.is_object()) continue;
                    for (const char* c : {"x", "y"})
                        if (q.contains(c) && q[c].is_number_float()) q[c] = ToStep(q[c].get<double>());
                    for (const char* h : {"in", "out"})
                        if (q.contains(h)) RoundPair(q[h]);
                }
            break;
        case DT_LookUpTable:
            if (v.is_object() && v.contains("points") && v["points"].is_array()) {
                Json rounded = v;
                double last = -1.0;
                bool increasing = true;
                for (Json& q : rounded["points"]) {
                    RoundPair(q);
                    if (q.is_array() && !q.empty() && q[0].is_number()) {
                        increasing = increasing && q[0].get<double>() > last;
                        last = q[0].get<double>();
                    }
                }
                // Points closer than the step keep their digits rather than merge.
                if (increasing) v = std::move(rounded);
            }
            break;
        default: break;
    }
    return v;
}

// A value on one line, with a space after each comma and colon.
void CompactText(const Json& v, std::string& out) {
    if (v.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& [k, e] : v.items()) {
            if (!first) out += ", ";
            first = false;
            out += Json(k).dump(-1, ' ', false, Json::error_handler_t::replace);
            out += ": ";
            CompactText(e, out);
        }
        out += '}';
    } else if (v.is_array()) {
        out += '[';
        for (size_t i = 0; i < v.size(); ++i) {
            if (i) out += ", ";
            CompactText(v[i], out);
        }
        out += ']';
    } else {
        out += v.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

// A flow as saved: one top-level key a line, one control a line, each value on
// its line, in the flow's own order.
std::string TidyText(const Json& flow) {
    std::string out = "{\n";
    bool first = true;
    for (const auto& [k, v] : flow.items()) {
        if (!first) out += ",\n";
        first = false;
        out += "  " + Json(k).dump(-1, ' ', false, Json::error_handler_t::replace) + ": ";
        if (k == "controls" && v.is_object() && !v.empty()) {
            out += "{\n";
            bool firstControl = true;
            for (const auto& [name, value] : v.items()) {
                if (!firstControl) out += ",\n";
                firstControl = false;
                out += "    " + Json(name).dump(-1, ' ', false, Json::error_handler_t::replace) + ": ";
                CompactText(value, out);
            }
            out += "\n  }";
        } else {
            CompactText(v, out);
        }
    }
    out += "\n}\n";
    return out;
}

// Edits change only a flow's controls: the history keeps those (null: none),
// not the whole flow, whose operator data may be large.
Json ControlsOf(const Json& flow) { return flow.contains("controls") ? flow["controls"] : Json(); }
void PutControls(Json& flow, Json controls) {
    if (controls.is_null())
        flow.erase("controls");
    else
        flow["controls"] = std::move(controls);
}

// The key frames of a keyed flow value.
std::vector<int64_t> KeyFrames(const Json& value) {
    std::vector<int64_t> frames;
    if (IsKeyframed(value) && value["keys"].is_array())
        for (const Json& k : value["keys"])
            if (k.is_array() && !k.empty() && k[0].is_number()) frames.push_back(int64_t(std::llround(k[0].get<double>())));
    return frames;
}

}  // namespace

// One proxy size's scrubbing: a session of the edited flow whose render stays
// open from request to request, the last frame it simulated, and the states
// it saved (every StateInterval frames, and after the last frame asked for).
struct PreviewDocument::Track {
    FlowFile Flow;
    int Proxy = 1;
    uint64_t Generation = 0;
    int64_t Interval = 4;
    std::unique_ptr<Session> S;
    int64_t Cursor = 0;     // the last frame the session simulated; before the flow's first when fresh
    int64_t CheckedTo = 0;  // inputs checked from the flow's first frame up to here
    std::map<int64_t, std::unique_ptr<SimulationState>> States;
    // The states' memory, and its bound: past it the grid is made twice as coarse
    // (every other state on it goes), so a seek costs at most one (coarser)
    // interval of steps and the states never hold more than Budget for long.
    size_t Held = 0, Budget = 0;
    // The two states kept off the grid: after the last frame asked for, and where
    // a stopped seek stopped.
    int64_t Kept[2] = {INT64_MIN, INT64_MIN};
    // The flow presses no buttons that do more than the simulation (load, record,
    // capture): otherwise every frame is simulated from the start, as a render does.
    bool StatesUsable = true;

    Track(FlowFile flow, int proxy, uint64_t generation, int64_t interval, size_t budget)
        : Flow(std::move(flow)), Proxy(proxy), Generation(generation), Interval(interval), Budget(budget) {
        Restart();
        CheckedTo = Flow.First - 1;
        for (const FlowEvent& e : Flow.Events) {
            const ControlInfo* info = S->Catalog().Find(e.Press);
            if (!info || (info->Key != "FastForward" && info->Key != "ResetPosition")) StatesUsable = false;
        }
        // The state before any request. A reduced session cannot take it back once
        // it has run; the restore says so and the session starts afresh instead.
        if (StatesUsable)
            if (auto initial = S->SaveState()) {
                Held += initial->Bytes();
                States[Flow.First - 1] = std::move(initial);
            }
    }
    ~Track() {
        States.clear();  // before the tool that made them
        S.reset();
    }
    // A fresh session, before the flow's first frame.
    void Restart() {
        S.reset();
        SessionOptions options;
        options.Quiet = true;
        options.Proxy = Proxy;
        S = std::make_unique<Session>(Flow, options);
        Cursor = Flow.First - 1;
    }
    bool OnGrid(int64_t f) const { return (f - Flow.First) % Interval == 0; }
    // Saves the state after frame f, the session's last, on the grid or in one of
    // the places off it (`slot` 0 or 1), so that the number of states stays
    // bounded. The tool gives none while its source is reduced (a proxy size) or
    // while motion data is loaded.
    void Keep(int64_t f, int slot) {
        if (!StatesUsable) return;
        if (!States.count(f)) {
            std::unique_ptr<SimulationState> saved = S->SaveState();
            if (!saved) return;
            Held += saved->Bytes();
            States[f] = std::move(saved);
        }
        if (!OnGrid(f) && slot >= 0) {
            const int64_t old = Kept[slot];
            Kept[slot] = f;
            if (old != INT64_MIN && old != f && old != Kept[1 - slot] && !OnGrid(old)) Erase(old);
        }
        // Over the bound: a grid twice as coarse, down to the state before the
        // first frame and the two kept off the grid.
        while (Held > Budget && Interval <= Flow.Last - Flow.First) {
            Interval *= 2;
            for (auto it = States.begin(); it != States.end();) {
                const int64_t at = (it++)->first;
                if (at >= Flow.First && !OnGrid(at) && at != Kept[0] && at != Kept[1]) Erase(at);
            }
        }
    }
    void Erase(int64_t f) {
        if (auto it = States.find(f); it != States.end()) {
            Held -= it->second->Bytes();
            States.erase(it);
        }
    }
};

struct PreviewDocument::RenderJob {
    std::thread Worker;
    std::atomic<bool> Running{true};
    std::atomic<int64_t> Done{0};
    int64_t Total = 0;
    std::mutex Lock;
    std::string Error, Output;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
    double Seconds = 0;
};

PreviewDocument::PreviewDocument(const std::string& path, const std::string& frames, const std::string& workFolder)
    : Path(path), WorkFolder(workFolder) {
    FlowFile flow = LoadFlowFile(path);
    Folder = flow.Folder;
    Name = flow.Name;
    Raw = SavedRaw = flow.Raw;
    // The text as written, kept while the flow is untouched.
    try {
        SavedText = ReadInputFile(path, uint64_t(256) << 20, "flow file");
        if (ParseJsonText(SavedText, path) != Raw) SavedText.clear();
    } catch (const UserError&) {
        SavedText.clear();
    }
    FlowFirst = TimelineFirst = flow.First;
    FlowLast = TimelineLast = flow.Last;
    if (!frames.empty()) {
        std::tie(TimelineFirst, TimelineLast) = ParseFrameRange(frames);
        if (TimelineFirst < FlowFirst || TimelineLast > FlowLast)
            throw UserError("frames " + frames + " lie outside the flow's frames " + std::to_string(FlowFirst) + "-" +
                            std::to_string(FlowLast));
    }
    Description = Json::parse(ControlsJson());
    StateInterval = std::max<int64_t>(4, (FlowLast - FlowFirst + 1 + 63) / 64);
    Rebuild();
}

PreviewDocument::~PreviewDocument() {
    if (Job && Job->Worker.joinable()) Job->Worker.join();
    Tracks.clear();
}

void PreviewDocument::Rebuild() {
    SessionOptions options;
    options.Quiet = true;
    Live.reset();
    Live = std::make_unique<Session>(ParseFlow(Raw.dump(), Name, Folder), options);
}

Json PreviewDocument::Describe(int64_t frame) {
    std::lock_guard<std::mutex> hold(Lock);
    const ControlCatalog& catalog = Live->Catalog();
    const Json controls = Raw.value("controls", Json::object());
    std::vector<std::string> ignored;
    const std::vector<ControlTrack> tracks = BindControls(controls, catalog, &ignored);
    Json state = Json::object();
    for (const ControlInfo& c : catalog.Items()) {
        if (c.Key.empty() || c.In->Page < 0) continue;
        Json s;
        const TagList attrs = c.In->GetAttrs();
        s["hidden"] = attrs.GetLong(Tags::Visible, 1) == 0;
        s["disabled"] = attrs.GetLong(Tags::Disabled, 0) != 0;
        s["keyed"] = false;
        const ControlTrack* track = nullptr;
        for (const ControlTrack& t : tracks)
            if (t.Info == &c) track = &t;
        if (track) {
            s["value"] = ValueJson(track->At(double(frame)));
            const Json& flowValue = controls[track->Key];
            s["keyed"] = track->Animated || IsKeyframed(flowValue);
            if (IsKeyframed(flowValue)) s["keys"] = KeyFrames(flowValue);
            s["flow"] = flowValue;
        } else {
            Parameter* p = c.In->GetValue(double(frame));
            s["value"] = ParameterJson(p);
            if (p) p->Recycle();
        }
        state[c.Key] = s;
    }
    Json out;
    out["flow"] = {{"name", fs::path(Path).filename().string()},
                   {"frames", {TimelineFirst, TimelineLast}},
                   {"flowFrames", {FlowFirst, FlowLast}}};
    if (Raw.contains("background") && Raw["background"].is_object()) out["flow"]["background"] = Raw["background"];
    out["description"] = Description;
    out["controls"] = state;
    out["generation"] = Generation;
    return out;
}

std::optional<ControlTrack> PreviewDocument::Commit(Json candidate, const ControlInfo& info, const std::string& label,
                                     bool continuesDrag, std::vector<std::string>* warnings) {
    const ControlCatalog& catalog = Live->Catalog();
    // The same checks and limits as a flow's values.
    const std::vector<ControlTrack> tracks = BindControls(candidate["controls"], catalog, warnings);
    ParseFlow(candidate.dump(), Name, Folder);
    const ControlTrack* track = nullptr;
    for (const ControlTrack& t : tracks)
        if (t.Info == &info) track = &t;
    if (candidate != Raw) {
        if (!continuesDrag) {
            Undos.push_back(HistoryEntry{ControlsOf(Raw), label});
            if (Undos.size() > HistoryLimit) Undos.erase(Undos.begin());
        }
        Redos.clear();
        Raw = std::move(candidate);
        ++Generation;
    }
    if (!track) return std::nullopt;
    return *track;
}

std::vector<std::string> PreviewDocument::Set(const std::string& name, const Json& given, int64_t frame, bool final) {
    ++Ticket;
    std::lock_guard<std::mutex> hold(Lock);
    const ControlCatalog& catalog = Live->Catalog();
    const ControlInfo& info = catalog.Require(name);
    if (info.Button) throw UserError("\"" + name + "\" is a button: press it instead");
    if (frame < FlowFirst || frame > FlowLast)
        throw UserError("frame " + std::to_string(frame) + " lies outside the flow's frames " +
                        std::to_string(FlowFirst) + "-" + std::to_string(FlowLast));
    const bool wholeTrack = IsKeyframed(given);
    if (wholeTrack) {
        if (given.size() != 1 || !given["keys"].is_array() || given["keys"].empty())
            throw UserError("\"" + name + "\": \"keys\" must be a non-empty list of [frame, value]");
        if (IsFileNameControl(info)) throw UserError("\"" + name + "\" names a file and cannot be animated");
    }
    const Json value = RoundedValue(info, wholeTrack ? given : CheckedFileName(info, given));

    Json candidate = Raw;
    if (!candidate.contains("controls")) candidate["controls"] = Json::object();
    Json& controls = candidate["controls"];
    std::string key = KeyInFlow(controls, catalog, info);
    if (key.empty()) key = info.Key;
    if (!wholeTrack && controls.contains(key) && IsKeyframed(controls[key])) {
        // A keyframed control stays keyframed: the edit is the key at this frame.
        Json& keys = controls[key]["keys"];
        bool replaced = false;
        for (Json& k : keys)
            if (k.is_array() && k.size() == 2 && k[0].is_number() && k[0].get<double>() == double(frame)) {
                k[1] = value;
                replaced = true;
            }
        if (!replaced) {
            Json sorted = Json::array();
            bool placed = false;
            for (const Json& k : keys) {
                if (!placed && k.is_array() && !k.empty() && k[0].is_number() && k[0].get<double>() > double(frame)) {
                    sorted.push_back(Json::array({frame, value}));
                    placed = true;
                }
                sorted.push_back(k);
            }
            if (!placed) sorted.push_back(Json::array({frame, value}));
            keys = sorted;
        }
    } else {
        controls[key] = value;
    }
    std::vector<std::string> warnings, again;
    ControlValue now;
    // A number limited to its range is kept as limited, as a render would use it.
    {
        const std::vector<ControlTrack> tracks = BindControls(controls, catalog, &warnings);
        for (const ControlTrack& t : tracks) {
            if (t.Info != &info) continue;
            now = t.At(double(frame));
            if (!IsKeyframed(controls[key]) && std::holds_alternative<double>(t.Keys.front().second))
                controls[key] = std::get<double>(t.Keys.front().second);
        }
    }
    // A control the flow did not hold, set back to its default, is left out again.
    if (!SavedRaw.value("controls", Json::object()).contains(key) && !IsKeyframed(controls[key]) &&
        (info.Type == DT_Number || info.Type == DT_Point)) {
        for (const Json& page : Description.value("pages", Json::array()))
            for (const Json& in : page.value("inputs", Json::array()))
                if (in.value("key", Json()) == Json(info.Key) && in.contains("default") && !in["default"].is_null() &&
                    in["default"] == controls[key])
                    controls.erase(key);
    }
    const bool continuesDrag = !OpenDrag.empty() && OpenDrag == info.Key;
    const bool changed = candidate != Raw;
    Commit(std::move(candidate), info, "set " + info.Key, continuesDrag, &again);
    if (changed || final) OpenDrag = final ? std::string() : info.Key;
    // The live tool gets the edit as a user's click would reach it.
    Live->Controls().Set(info, now, double(frame));
    return warnings;
}

std::vector<int64_t> PreviewDocument::Key(const std::string& name, KeyEdit what, int64_t frame, int64_t to,
                                          std::vector<std::string>* warnings) {
    ++Ticket;
    std::lock_guard<std::mutex> hold(Lock);
    const ControlCatalog& catalog = Live->Catalog();
    const ControlInfo& info = catalog.Require(name);
    if (info.Button) throw UserError("\"" + name + "\" is a button: it has no keys");
    if (info.Type == DT_Text || info.In->Page < 0) throw UserError("\"" + name + "\" cannot be animated");
    for (const int64_t f : {frame, to})
        if (f < FlowFirst || f > FlowLast)
            throw UserError("frame " + std::to_string(f) + " lies outside the flow's frames " +
                            std::to_string(FlowFirst) + "-" + std::to_string(FlowLast));
    Json candidate = Raw;
    if (!candidate.contains("controls")) candidate["controls"] = Json::object();
    Json& controls = candidate["controls"];
    std::string key = KeyInFlow(controls, catalog, info);
    if (key.empty()) key = info.Key;
    const bool keyed = controls.contains(key) && IsKeyframed(controls[key]);
    const auto at = [&](const Json& k) { return k.is_array() && k.size() == 2 && k[0].is_number() && k[0].get<double>() == double(frame); };
    std::string label;
    if (what == KeyEdit::Add) {
        label = "key " + info.Key + " at " + std::to_string(frame);
        if (!keyed) {
            Json value;
            if (controls.contains(key)) {
                value = controls[key];
            } else {
                Parameter* p = info.In->GetValue(double(frame));
                value = ParameterJson(p);
                if (p) p->Recycle();
                // The tool's default curve is written as a curve without points.
                if (info.Type == DT_LookUpTable && value.is_object() && value["table"] == Json(LookUpTable().Table))
                    value = Json{{"points", Json::array()}};
            }
            if (value.is_null()) throw UserError("\"" + name + "\" cannot be animated");
            controls[key] = Json{{"keys", Json::array({Json::array({frame, value})})}};
        } else {
            Json& keys = controls[key]["keys"];
            if (std::none_of(keys.begin(), keys.end(), at)) {
                std::vector<std::string> ignored;
                const std::vector<ControlTrack> tracks = BindControls(controls, catalog, &ignored);
                const ControlTrack* track = nullptr;
                for (const ControlTrack& t : tracks)
                    if (t.Info == &info) track = &t;
                // Before the first key or after the last the value is that key's,
                // as written; between two it is the interpolated value, rounded as
                // a value from the page is.
                size_t before = 0;
                while (before < keys.size() && keys[before][0].get<double>() < double(frame)) ++before;
                Json value;
                if (before == 0) {
                    value = keys.front()[1];
                } else if (before == keys.size()) {
                    value = keys.back()[1];
                } else {
                    const ControlValue v = track->At(double(frame));
                    const ControlValue held = track->Keys[before - 1].second;
                    if (v == held) {
                        value = keys[before - 1][1];
                    } else if (info.Type == DT_LookUpTable && keys[before - 1][1].contains("points") &&
                               keys[before][1].contains("points") &&
                               keys[before - 1][1]["points"].size() == keys[before][1]["points"].size()) {
                        // Curves with points at the same places give points between.
                        const Json &a = keys[before - 1][1]["points"], &b = keys[before][1]["points"];
                        const double f0 = keys[before - 1][0].get<double>(), f1 = keys[before][0].get<double>();
                        const double t = (double(frame) - f0) / (f1 - f0);
                        Json points = Json::array();
                        bool same = true;
                        for (size_t i = 0; i < a.size(); ++i) {
                            same = same && a[i][0] == b[i][0];
                            const double ya = a[i][1].get<double>(), yb = b[i][1].get<double>();
                            points.push_back(Json::array({a[i][0], ya + (yb - ya) * t}));
                        }
                        value = same ? Json{{"points", points}} : ValueJson(v);
                    } else {
                        value = ValueJson(v);
                    }
                    value = RoundedValue(info, value);
                }
                keys.insert(keys.begin() + std::ptrdiff_t(before), Json::array({frame, value}));
            }
        }
    } else {
        if (!keyed) throw UserError("\"" + name + "\" has no keys");
        Json& keys = controls[key]["keys"];
        const auto found = std::find_if(keys.begin(), keys.end(), at);
        if (found == keys.end()) throw UserError("\"" + name + "\" has no key at frame " + std::to_string(frame));
        Json moved = *found;
        keys.erase(found);
        if (what == KeyEdit::Remove) {
            label = "remove key " + info.Key + " at " + std::to_string(frame);
            if (keys.empty()) controls[key] = moved[1];
        } else {
            label = "move key " + info.Key + " from " + std::to_string(frame) + " to " + std::to_string(to);
            moved[0] = to;
            Json sorted = Json::array();
            for (const Json& k : keys)
                if (!(k.is_array() && !k.empty() && k[0].is_number() && k[0].get<double>() == double(to)))
                    sorted.push_back(k);
            size_t place = 0;
            while (place < sorted.size() && sorted[place][0].get<double>() < double(to)) ++place;
            sorted.insert(sorted.begin() + std::ptrdiff_t(place), moved);
            keys = sorted;
        }
    }
    OpenDrag.clear();
    const std::optional<ControlTrack> track = Commit(std::move(candidate), info, label, false, warnings);
    if (track) Live->Controls().Set(info, track->At(double(frame)), double(frame));
    return KeyFrames(Raw["controls"][key]);
}

bool PreviewDocument::Undo(std::string* label) { return StepHistory(Undos, Redos, label); }

bool PreviewDocument::Redo(std::string* label) { return StepHistory(Redos, Undos, label); }

// Takes the newest edit off one list, puts the flow's controls as they stand on
// the other (so the step can be taken back) and restores the edit's controls.
bool PreviewDocument::StepHistory(std::vector<HistoryEntry>& from, std::vector<HistoryEntry>& to, std::string* label) {
    ++Ticket;
    std::lock_guard<std::mutex> hold(Lock);
    OpenDrag.clear();
    if (from.empty()) return false;
    HistoryEntry entry = std::move(from.back());
    from.pop_back();
    *label = entry.Label;
    to.push_back(HistoryEntry{ControlsOf(Raw), entry.Label});
    PutControls(Raw, std::move(entry.Controls));
    ++Generation;
    Rebuild();
    return true;
}

std::string PreviewDocument::InFolder(const std::string& name, bool mustBeNew) const {
    if (HasControlCharacters(name)) throw UserError("a file name in the flow's folder holds no control characters");
    if (name.empty() || name.size() > 200 || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name[0] == '.')
        throw UserError("\"" + name + "\" is not a plain file name in the flow's folder");
    const fs::path target = (Folder.empty() ? fs::path(".") : fs::path(Folder)) / name;
    if (mustBeNew) {
        // A link counts as taken, even one that leads nowhere.
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(target, ec);
        if (st.type() != fs::file_type::not_found &&
            !(fs::is_regular_file(st) && fs::equivalent(target, Path, ec)))
            throw UserError(name + " already exists in the flow's folder: choose a new name");
    }
    return target.string();
}

// A dialog answer: a regular file of the flow's folder (never through a link)
// or a new name there, and never the flow being edited, which a recording or a
// capture would overwrite.
std::string PreviewDocument::DialogAnswer(const std::string& name) const {
    const std::string target = InFolder(name, false);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(target, ec);
    if (st.type() == fs::file_type::not_found) return target;
    if (ec || !fs::is_regular_file(st))
        throw UserError("\"" + name + "\" is not a regular file: answer with a file or a new name in the flow's folder");
    if (fs::equivalent(target, Path, ec) || ec)
        throw UserError("\"" + name + "\" is the flow being edited: answer with another file");
    return target;
}

// The value of a file-name control as set from the page: empty (no file), or a
// regular file in the flow's folder, not a link. A plain name is taken from the
// flow's folder, as a dialog answer is; a path is kept as written.
Json PreviewDocument::CheckedFileName(const ControlInfo& info, const Json& value) const {
    if (!IsFileNameControl(info) || !value.is_string() || value.get<std::string>().empty()) return value;
    const std::string text = value.get<std::string>();
    const std::string what = "\"" + info.Key + "\": \"" + (HasControlCharacters(text) ? "?" : text) + "\" ";
    if (HasControlCharacters(text) || text.size() > 4096) throw UserError(what + "is not a file name");
    const std::string path = text.find('/') == std::string::npos ? InFolder(text, false) : text;
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec)) || ec)
        throw UserError(what + "is not a regular file in the flow's folder");
    std::error_code folderError, parentError;
    const fs::path folder = fs::canonical(Folder.empty() ? fs::path(".") : fs::path(Folder), folderError);
    const fs::path parent = fs::canonical(fs::absolute(fs::path(path), parentError).parent_path(), parentError);
    if (folderError || parentError || folder != parent) throw UserError(what + "lies outside the flow's folder");
    return path;
}

Json PreviewDocument::Press(const std::string& name, const std::optional<std::string>& file, int64_t frame) {
    ++Ticket;
    // The dialog answers and message boxes are the process's own: no frame is
    // simulated while the press runs.
    std::lock_guard<std::mutex> seek(SeekLock);
    std::lock_guard<std::mutex> hold(Lock);
    const ControlInfo& info = Live->Catalog().Require(name);
    if (!info.Button) throw UserError("\"" + name + "\" is not a button");
    std::optional<std::string> answer;
    if (file) answer = DialogAnswer(*file);
    platform::Default().ClearRecords();
    Live->Controls().Press(info, double(frame), answer);
    std::string failure;
    try {
        // Record and capture post passes of their own; they run as `lumets record` runs them.
        Live->ServeRequests("pass");
    } catch (const std::exception& e) {
        failure = e.what();
    }
    Json messages = Json::array();
    for (const platform::MessageRecord& m : platform::Default().Messages())
        messages.push_back(Json{{"title", m.Title}, {"text", m.Text}, {"kind", platform::KindName(m.Kind)}});
    platform::Default().ClearRecords();
    Json out{{"messages", messages}};
    if (!failure.empty()) out["error"] = failure;
    return out;
}

void PreviewDocument::StopIfSuperseded(uint64_t ticket) const {
    if (Ticket.load() != ticket) throw Superseded("a newer request replaced this one");
}

// Frame n from the track's session: it goes on from where it stands when that is
// before n, else from the nearest saved state before n, else from the start.
// Between two frames a newer request stops it; what it reached stays usable.
std::string PreviewDocument::RenderFrame(Track& t, int64_t n, bool quick, uint64_t ticket) {
    const SimulationState* state = nullptr;
    int64_t from = t.Cursor;
    if (auto it = t.States.lower_bound(n); it != t.States.begin()) {
        --it;
        if (t.Cursor >= n || it->first > t.Cursor) {
            state = it->second.get();
            from = it->first;
        }
    }
    if (state && !t.S->RestoreState(*state, std::max(from, t.Flow.First))) {
        state = nullptr;
        from = t.Cursor;
    }
    if (!state && t.Cursor >= n) {
        t.Restart();
        from = t.Cursor;
    }
    t.Cursor = from;
    if (n > t.CheckedTo) {
        t.S->CheckInputs(t.CheckedTo + 1, n);
        t.CheckedTo = n;
    }
    // The flags of `lumets render --quick` go to every request, simulated or drawn.
    t.S->TheFlow().RequestFlags = quick ? Request::FlagQuick : 0;
    const std::string file = (fs::path(WorkFolder) / "frame.png").string();
    for (int64_t f = from + 1; f <= n; ++f) {
        if (Ticket.load() != ticket) {
            // Asking again goes on from here, whatever is asked meanwhile.
            if (f > from + 1) t.Keep(f - 1, 1);
            throw Superseded("a newer request replaced this one");
        }
        Image* picture = t.S->RenderFrame(f, f != n);
        t.Cursor = f;
        ++Steps;
        if (picture) {
            try {
                WriteImageFile(*picture, file);
            } catch (...) {
                picture->Recycle();
                throw;
            }
            picture->Recycle();
        }
        if (t.OnGrid(f)) t.Keep(f, -1);
    }
    t.Keep(n, 0);
    return ReadWholeFile(file);
}

std::string PreviewDocument::Frame(int64_t n, bool quick, int proxy) {
    if (n < TimelineFirst || n > TimelineLast)
        throw UserError("frame " + std::to_string(n) + " lies outside the frames " + std::to_string(TimelineFirst) +
                        "-" + std::to_string(TimelineLast));
    if (proxy < 1 || proxy > 64) throw UserError("proxy must be 1 to 64");
    const uint64_t ticket = ++Ticket;
    const auto key = std::make_tuple(n, quick, proxy);
    uint64_t generation = 0;
    std::string text;
    {
        std::lock_guard<std::mutex> hold(Lock);
        if (auto it = Cache.find(key); it != Cache.end() && it->second.Generation == Generation)
            return it->second.Png;
        generation = Generation;
        text = Raw.dump();
    }

    std::string png;
    {
        std::lock_guard<std::mutex> seek(SeekLock);
        StopIfSuperseded(ticket);
        // Full size and one reduced size are kept.
        for (auto it = Tracks.begin(); it != Tracks.end();)
            it = it->first != 1 && it->first != proxy ? Tracks.erase(it) : std::next(it);
        std::unique_ptr<Track>& track = Tracks[proxy];
        if (track && track->Generation != generation) track.reset();
        try {
            if (!track) track = std::make_unique<Track>(ParseFlow(text, Name, Folder), proxy, generation, StateInterval, StateBudget);
            if (track->StatesUsable) {
                png = RenderFrame(*track, n, quick, ticket);
            } else {
                // Simulated from the start in a session of its own, and the passes
                // the flow's presses posted are served after it, as in a render.
                std::unique_ptr<Track> once = std::move(track);
                Tracks.erase(proxy);
                png = RenderFrame(*once, n, quick, ticket);
                once->S->EndFrames();
                if (!once->S->TheFlow().Port().Empty()) once->S->ServeRequests("frame");
            }
        } catch (const Superseded&) {
            throw;
        } catch (...) {
            Tracks.erase(proxy);
            throw;
        }
    }

    std::lock_guard<std::mutex> hold(Lock);
    if (Generation != generation) return png;  // an edit came meanwhile: not worth keeping
    // Frames of earlier edits are of no more use.
    for (auto it = Cache.begin(); it != Cache.end();) {
        if (it->second.Generation != Generation || CacheBytes + png.size() > CacheLimit) {
            CacheBytes -= it->second.Png.size();
            it = Cache.erase(it);
        } else {
            ++it;
        }
    }
    CacheBytes += png.size();
    Cache[key] = CachedFrame{Generation, png};
    return png;
}

size_t PreviewDocument::StatesHeld() {
    std::lock_guard<std::mutex> seek(SeekLock);
    size_t count = 0;
    for (const auto& [proxy, track] : Tracks) count += track->States.size();
    return count;
}

size_t PreviewDocument::StateBytes() {
    std::lock_guard<std::mutex> seek(SeekLock);
    size_t bytes = 0;
    for (const auto& [proxy, track] : Tracks) bytes += track->Held;
    return bytes;
}

void PreviewDocument::SetStateBudget(size_t bytes) {
    std::lock_guard<std::mutex> seek(SeekLock);
    StateBudget = bytes;
    Tracks.clear();
}

std::string PreviewDocument::TextLocked() const {
    return Raw == SavedRaw && !SavedText.empty() ? SavedText : TidyText(Raw);
}

std::string PreviewDocument::FlowText() {
    std::lock_guard<std::mutex> hold(Lock);
    return TextLocked();
}

std::string PreviewDocument::Save(const std::optional<std::string>& newName) {
    ++Ticket;
    std::lock_guard<std::mutex> hold(Lock);
    if (newName && (newName->size() < 6 || newName->compare(newName->size() - 5, 5, ".json") != 0))
        throw UserError("\"" + *newName + "\": a flow's name ends in .json");
    const std::string target = newName ? InFolder(*newName, true) : Path;
    const std::string text = TextLocked();
    WriteFileAtomically(target, text);
    Path = target;
    SavedRaw = Raw;
    SavedText = text;
    return target;
}

void PreviewDocument::StartRender() {
    ++Ticket;
    std::lock_guard<std::mutex> hold(Lock);
    std::lock_guard<std::mutex> jobs(JobLock);
    if (Job && Job->Running) throw UserError("a render is already running");
    if (Job && Job->Worker.joinable()) Job->Worker.join();
    FlowFile flow = ParseFlow(Raw.dump(), Name, Folder);
    if (flow.Output.empty()) throw UserError("no output: the flow has no \"output\"");
    FramePattern pattern(flow.Output);
    if (!pattern.HasField() && TimelineLast > TimelineFirst)
        throw UserError("output \"" + flow.Output + "\" has no frame-number field (#### or %04d)");
    CheckOutputFormat(pattern.At(TimelineFirst));
    auto job = std::make_shared<RenderJob>();
    job->Total = TimelineLast - TimelineFirst + 1;
    job->Output = pattern.At(TimelineFirst);
    const int64_t from = TimelineFirst, to = TimelineLast, first = FlowFirst;
    job->Worker = std::thread([job, flow = std::move(flow), pattern, from, to, first]() mutable {
        try {
            SessionOptions options;
            options.Quiet = true;
            Session session(std::move(flow), options);
            session.CheckInputs(first, to);
            session.Render(
                from, to, true, 0,
                [&](int64_t frame, Image* picture) {
                    WriteImageFile(*picture, pattern.At(frame));
                    ++job->Done;
                },
                "frame");
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> h(job->Lock);
            job->Error = e.what();
        }
        job->Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - job->Start).count();
        job->Running = false;
    });
    Job = job;
}

Json PreviewDocument::RenderStatus() {
    std::lock_guard<std::mutex> jobs(JobLock);
    if (!Job) return Json{{"running", false}, {"done", 0}, {"total", 0}};
    std::lock_guard<std::mutex> h(Job->Lock);
    const bool running = Job->Running;
    const double seconds =
        running ? std::chrono::duration<double>(std::chrono::steady_clock::now() - Job->Start).count() : Job->Seconds;
    const int64_t done = Job->Done;
    Json out{{"running", running}, {"done", done}, {"total", Job->Total}, {"output", Job->Output},
             {"fps", seconds > 0 ? double(done) / seconds : 0.0}};
    if (!Job->Error.empty()) out["error"] = Job->Error;
    return out;
}

}  // namespace lumets
