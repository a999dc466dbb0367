#include "app/preview.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/commands.h"
#include "app/errors.h"
#include "app/frame_pattern.h"
#include "app/image_io.h"
#include "app/session.h"
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

}  // namespace

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
    Raw = flow.Raw;
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
    States.clear();  // before the tool that made them
    Scrub.reset();
}

void PreviewDocument::Rebuild() {
    States.clear();
    Scrub.reset();
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
            s["keyed"] = track->Animated;
            s["flow"] = controls[track->Key];
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

std::vector<std::string> PreviewDocument::Set(const std::string& name, const Json& value, int64_t frame) {
    std::lock_guard<std::mutex> hold(Lock);
    const ControlCatalog& catalog = Live->Catalog();
    const ControlInfo& info = catalog.Require(name);
    if (info.Button) throw UserError("\"" + name + "\" is a button: press it instead");
    if (frame < FlowFirst || frame > FlowLast)
        throw UserError("frame " + std::to_string(frame) + " lies outside the flow's frames " +
                        std::to_string(FlowFirst) + "-" + std::to_string(FlowLast));
    if (IsKeyframed(value)) throw UserError("\"" + name + "\": set one value at a time (keys are kept by frame)");

    Json candidate = Raw;
    if (!candidate.contains("controls")) candidate["controls"] = Json::object();
    Json& controls = candidate["controls"];
    std::string key = KeyInFlow(controls, catalog, info);
    if (key.empty()) key = info.Key;
    if (controls.contains(key) && IsKeyframed(controls[key])) {
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
    // The same checks and limits as a flow's values.
    std::vector<std::string> warnings;
    const std::vector<ControlTrack> tracks = BindControls(controls, catalog, &warnings);
    ParseFlow(candidate.dump(), Name, Folder);
    const ControlTrack* track = nullptr;
    for (const ControlTrack& t : tracks)
        if (t.Info == &info) track = &t;
    if (!track) throw UserError("\"" + name + "\" cannot be set");
    // A number limited to its range is kept as limited, as a render would use it.
    if (!track->Animated && std::holds_alternative<double>(track->Keys.front().second))
        controls[key] = std::get<double>(track->Keys.front().second);
    Raw = std::move(candidate);
    ++Generation;
    // The live tool gets the edit as a user's click would reach it.
    Live->Controls().Set(info, track->At(double(frame)), double(frame));
    return warnings;
}

std::string PreviewDocument::InFolder(const std::string& name, bool mustBeNew) const {
    if (name.empty() || name.size() > 200 || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name[0] == '.' || name.find('\0') != std::string::npos)
        throw UserError("\"" + name + "\" is not a plain file name in the flow's folder");
    const fs::path target = (Folder.empty() ? fs::path(".") : fs::path(Folder)) / name;
    if (mustBeNew) {
        std::error_code ec;
        if (fs::exists(target, ec) && !fs::equivalent(target, Path, ec))
            throw UserError(name + " already exists in the flow's folder: choose a new name");
    }
    return target.string();
}

Json PreviewDocument::Press(const std::string& name, const std::optional<std::string>& file, int64_t frame) {
    std::lock_guard<std::mutex> hold(Lock);
    const ControlInfo& info = Live->Catalog().Require(name);
    if (!info.Button) throw UserError("\"" + name + "\" is not a button");
    std::optional<std::string> answer;
    if (file) answer = InFolder(*file, false);
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
        messages.push_back(Json{{"title", m.Title}, {"text", m.Text}});
    platform::Default().ClearRecords();
    Json out{{"messages", messages}};
    if (!failure.empty()) out["error"] = failure;
    return out;
}

std::string PreviewDocument::RenderOne(int64_t n, bool quick, int proxy) {
    SessionOptions options;
    options.Quiet = true;
    options.Proxy = proxy;
    Session session(ParseFlow(Raw.dump(), Name, Folder), options);
    session.CheckInputs(FlowFirst, n);
    const std::string file = (fs::path(WorkFolder) / "frame.png").string();
    session.Render(n, n, true, quick ? Request::FlagQuick : 0,
                   [&](int64_t, Image* picture) { WriteImageFile(*picture, file); }, "frame");
    return ReadWholeFile(file);
}

std::string PreviewDocument::RenderFromStates(int64_t n) {
    if (!Scrub || ScrubGeneration != Generation) {
        States.clear();
        Scrub.reset();
        LatestState = INT64_MIN;
        FlowFile flow = ParseFlow(Raw.dump(), Name, Folder);
        // Buttons pressed by the flow's events may load, record or capture, which
        // the saved states do not cover: such flows are simulated from the start.
        StatesUsable = true;
        for (const FlowEvent& e : flow.Events) {
            const ControlInfo* info = Live->Catalog().Find(e.Press);
            if (!info || (info->Key != "FastForward" && info->Key != "ResetPosition")) StatesUsable = false;
        }
        if (!StatesUsable) return RenderOne(n, false, 1);
        SessionOptions options;
        options.Quiet = true;
        Scrub = std::make_unique<Session>(std::move(flow), options);
        Scrub->CheckInputs(FlowFirst, TimelineLast);
        ScrubGeneration = Generation;
        if (auto initial = Scrub->SaveState()) States[FlowFirst - 1] = std::move(initial);
    }
    if (!StatesUsable) return RenderOne(n, false, 1);
    // The nearest state before the frame; none means the tool gave none.
    auto it = States.lower_bound(n);
    if (it == States.begin()) return RenderOne(n, false, 1);
    --it;
    const int64_t from = it->first;
    if (!Scrub->RestoreState(*it->second, std::max(from, FlowFirst))) return RenderOne(n, false, 1);
    const std::string file = (fs::path(WorkFolder) / "frame.png").string();
    try {
        Scrub->RenderFrom(
            from + 1, n, [&](Image* picture) { WriteImageFile(*picture, file); },
            [&](int64_t f) {
                const bool onGrid = (f - FlowFirst) % StateInterval == 0;
                if ((onGrid || f == n) && !States.count(f)) {
                    std::unique_ptr<SimulationState> state = Scrub->SaveState();
                    if (!state) return;
                    States[f] = std::move(state);
                    if (!onGrid) {
                        if (LatestState != INT64_MIN && LatestState != f) States.erase(LatestState);
                        LatestState = f;
                    }
                }
            });
    } catch (...) {
        Scrub.reset();
        States.clear();
        throw;
    }
    return ReadWholeFile(file);
}

std::string PreviewDocument::Frame(int64_t n, bool quick, int proxy) {
    std::lock_guard<std::mutex> hold(Lock);
    if (n < TimelineFirst || n > TimelineLast)
        throw UserError("frame " + std::to_string(n) + " lies outside the frames " + std::to_string(TimelineFirst) +
                        "-" + std::to_string(TimelineLast));
    if (proxy < 1 || proxy > 64) throw UserError("proxy must be 1 to 64");
    const auto key = std::make_tuple(n, quick, proxy);
    if (auto it = Cache.find(key); it != Cache.end() && it->second.Generation == Generation) return it->second.Png;
    std::string png = quick || proxy != 1 ? RenderOne(n, quick, proxy) : RenderFromStates(n);
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

std::string PreviewDocument::Save(const std::optional<std::string>& newName) {
    std::lock_guard<std::mutex> hold(Lock);
    if (newName && (newName->size() < 6 || newName->compare(newName->size() - 5, 5, ".json") != 0))
        throw UserError("\"" + *newName + "\": a flow's name ends in .json");
    const std::string target = newName ? InFolder(*newName, true) : Path;
    WriteFileAtomically(target, Raw.dump(2) + "\n");
    Path = target;
    return target;
}

void PreviewDocument::StartRender() {
    std::lock_guard<std::mutex> hold(Lock);
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
    std::lock_guard<std::mutex> hold(Lock);
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
