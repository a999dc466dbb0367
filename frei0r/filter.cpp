#include "frei0r/filter.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "app/session/control_catalog.h"
#include "app/io/errors.h"
#include "app/io/image_io.h"
#include "app/session/session.h"
#include "host/plugins.h"
#include "host/registry.h"
#include "host/tags.h"
#include "operator/control_table.h"

namespace lumets::frei0r {

const std::vector<ParamSpec> Params = {
    {"flow", ParamKind::Text,
     "lumets flow file (JSON): particle shape, controls, keyframes, events and seed; its background and output "
     "are not used (the video is the background)",
     nullptr},
    {"fps", ParamKind::Text,
     "Frame rate the host's time is counted in (25, 29.97 or 30000/1001); time 0 is the flow's first frame", nullptr},
    {"seed", ParamKind::Text, "Initial state of the random generator, 0 to 4294967295; empty: the flow's seed",
     nullptr},
    {"birthrate", ParamKind::Number,
     "Birthrate, particles born per frame; 0 to 1 spans the control's range, the default keeps the flow's value",
     "Birthrate"},
    {"speed", ParamKind::Number, "Speed; 0 to 1 spans the control's range, the default keeps the flow's value",
     "Speed"},
    {"spread", ParamKind::Number, "Spread of the birth direction; the default keeps the flow's value", "Spread"},
    {"gravity", ParamKind::Number, "Gravity; 0 to 1 spans the control's range, the default keeps the flow's value",
     "Gravity"},
    {"size", ParamKind::Number,
     "General Size (switches Enable Scale on); 0 to 1 spans the control's range, the default keeps the flow's "
     "value",
     "GeneralSize"},
    {"merge", ParamKind::Number, "Merge, 0 subtractive to 1 additive; the default keeps the flow's value", "Merge"},
    {"start x", ParamKind::Number, "Start of the birth line, x (0 left to 1 right); start x and y replace the flow's point together once either leaves its default", "Start", 0},
    {"start y", ParamKind::Number, "Start of the birth line, y (0 top to 1 bottom)", "Start", 1},
    {"end x", ParamKind::Number, "End of the birth line, x (0 left to 1 right); end x and y replace the flow's point together once either leaves its default", "End", 0},
    {"end y", ParamKind::Number, "End of the birth line, y (0 top to 1 bottom)", "End", 1},
    // Appended parameters only: hosts address parameters by their index.
    {"turbulence", ParamKind::Number,
     "Turbulence, strength of a swirling flow; 0 to 1 spans the control's range, the default keeps the flow's value",
     "Turbulence"},
};

namespace {

// What every instance in the process shares, reached one call at a time: the
// plug-in loader and the host layer's class list (ToolClass), the control
// ranges read once (ControlRanges) and the messages printed once (Printed).
// The class list is an unguarded list written only while a plug-in module
// loads, which happens in ToolClass under this lock before any instance makes
// a tool; once the class is found no module loads again. A tool's own work
// (its session, flow, images and simulation) touches nothing else that is
// shared but the platform's message log and the worker-thread limit, which
// guard themselves, so it runs under the instance's own lock only.
// Lock order: an instance's lock, then this one; never the other way round.
std::mutex& ProcessLock() {
    static std::mutex lock;
    return lock;
}

// Messages already printed in this process: each failure is reported once, not
// per frame or per instance (MLT makes an instance for its first frame and
// another for the render).
std::set<std::string>& Printed() {
    static std::set<std::string> printed;
    return printed;
}

// The tool's class: from LUMETS_PLUGIN_PATH and the host layer's own folders,
// and failing those from lumets/plugins beside this module's folder (an install
// puts the filter in <libdir>/frei0r-1 and the plug-in in <libdir>/lumets/plugins).
Registry& ToolClass() {
    try {
        return ParticleClass();
    } catch (const UserError&) {
        Dl_info self{};
        if (dladdr(reinterpret_cast<const void*>(&ToolClass), &self) && self.dli_fname) {
            namespace fs = std::filesystem;
            const fs::path folder = fs::path(self.dli_fname).parent_path().parent_path() / "lumets" / "plugins";
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(folder, ec))
                if (entry.path().extension() == ".so") plugins::LoadModule(entry.path().string(), nullptr);
            if (Registry* reg = ClassRegistry.Find(controls::ClassName)) return *reg;
        }
        throw;
    }
}

// The range and default of the tool's control behind each parameter, read once
// from the tool itself.
struct ControlRange {
    double Low = 0, High = 1;
    ParamValue Default;
};

const std::vector<ControlRange>& ControlRanges() {
    static std::optional<std::vector<ControlRange>> ranges;
    if (ranges) return *ranges;
    Registry& reg = ToolClass();
    const auto names = ControlNames(reg);
    TagList tags{{Tags::RandomSeed, 1}};
    Operator* op = reg.Create(nullptr, &tags);
    if (!op) throw UserError("the particle plug-in made no tool");
    std::vector<ControlRange> out(Params.size());
    try {
        ControlCatalog catalog(*op, names);
        for (size_t i = 0; i < Params.size(); ++i) {
            if (!Params[i].Control) continue;
            const ControlInfo& info = catalog.Require(Params[i].Control);
            const TagList& t = info.In->CreationTags;
            if (Params[i].Coordinate < 0) {
                if (!info.Low || !info.High || !(*info.High > *info.Low))
                    throw UserError(std::string("the tool's control \"") + Params[i].Control + "\" has no range");
                out[i].Low = *info.Low;
                out[i].High = *info.High;
                out[i].Default.Number = (t.GetDouble(Tags::Default, *info.Low) - *info.Low) / (*info.High - *info.Low);
            } else {
                out[i].Default.Number = t.GetDouble(Params[i].Coordinate == 0 ? Tags::DefaultX : Tags::DefaultY, 0.5);
            }
        }
    } catch (...) {
        op->Recycle();
        throw;
    }
    op->Recycle();
    ranges = std::move(out);
    return *ranges;
}

double ParseFps(const std::string& text) {
    double num = 0, den = 1;
    char* end = nullptr;
    num = std::strtod(text.c_str(), &end);
    if (end && *end == '/') den = std::strtod(end + 1, &end);
    if (text.empty() || !end || *end != '\0' || !std::isfinite(num) || !std::isfinite(den) || !(den > 0) ||
        !(num / den > 0) || num / den > 1000)
        throw UserError("frame rate \"" + text + "\" is not a number of frames per second from 0 to 1000 (as 25 or 30000/1001)");
    return num / den;
}

std::optional<uint32_t> ParseSeed(const std::string& text) {
    if (text.empty()) return std::nullopt;
    if (text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(text) > 4294967295ULL)
        throw UserError("seed \"" + text + "\" is not a whole number from 0 to 4294967295");
    return uint32_t(std::stoull(text));
}

std::string NumberText(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// A control value as the flow's "controls" (and lumets render --set) would give it.
ControlValue ValueOfText(const std::string& text) {
    const Json j = ParseSetValue(text);
    if (j.is_array()) return PointValue{j[0].get<double>(), j[1].get<double>()};
    return j.get<double>();
}

}  // namespace

struct Filter::Setup {
    std::string FlowPath;
    double Fps = 25;
    std::optional<uint32_t> Seed;
    std::vector<std::pair<std::string, std::string>> Sets;  // control key, value as --set text
};

Filter::Filter(unsigned width, unsigned height) : Width(width), Height(height), Values(Params.size()) {
    Values[ParamFps].Text = "25";
    std::lock_guard<std::mutex> guard(ProcessLock());
    try {
        const auto& ranges = ControlRanges();
        for (size_t i = 0; i < Params.size(); ++i)
            if (Params[i].Control) Values[i] = ranges[i].Default;
    } catch (const std::exception&) {
        // Without the tool every frame passes through; the reason is reported
        // with the first frame.
    }
}

Filter::~Filter() {
    std::lock_guard<std::mutex> guard(Lock);
    States.clear();  // before the tool that made them
    Tool.reset();
}

void Filter::Set(int index, const ParamValue& value) {
    if (index < 0 || size_t(index) >= Values.size()) return;
    std::lock_guard<std::mutex> guard(Lock);
    Values[size_t(index)] = value;
}

int64_t Filter::StateInterval() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Interval;
}

Filter::Setup Filter::Resolve() const {
    Setup s;
    s.FlowPath = Values[ParamFlow].Text;
    if (s.FlowPath.empty()) throw UserError("no flow file given (parameter \"flow\")");
    s.Fps = ParseFps(Values[ParamFps].Text);
    s.Seed = ParseSeed(Values[ParamSeed].Text);
    const std::vector<ControlRange>& ranges = [] () -> const std::vector<ControlRange>& {
        std::lock_guard<std::mutex> guard(ProcessLock());
        return ControlRanges();  // never changed once read
    }();
    for (size_t i = 0; i < Params.size(); ++i) {
        if (!Params[i].Control || Params[i].Coordinate > 0) continue;
        // A point's x parameter is followed by its y parameter; the two act together.
        const size_t count = Params[i].Coordinate == 0 ? 2 : 1;
        bool atDefault = true;
        for (size_t k = i; k < i + count; ++k) {
            if (!std::isfinite(Values[k].Number))
                throw UserError(std::string("parameter \"") + Params[k].Name + "\" is not a number");
            atDefault = atDefault && Values[k].Number == ranges[k].Default.Number;
        }
        if (atDefault) continue;
        if (count == 2) {
            s.Sets.emplace_back(Params[i].Control, NumberText(Values[i].Number) + "," + NumberText(Values[i + 1].Number));
        } else {
            const double p = std::clamp(Values[i].Number, 0.0, 1.0);
            s.Sets.emplace_back(Params[i].Control, NumberText(ranges[i].Low + p * (ranges[i].High - ranges[i].Low)));
            if (std::strcmp(Params[i].Control, "GeneralSize") == 0) s.Sets.emplace_back("EnableScale", "1");
        }
    }
    return s;
}

void Filter::Report(const std::string& message) {
    std::string line = message;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::lock_guard<std::mutex> guard(ProcessLock());
    if (!Printed().insert(line).second) return;
    std::fprintf(stderr, "lumets frei0r: %s; frames pass through unchanged\n", line.c_str());
    std::fflush(stderr);
}

void Filter::Update(double time, TimeUnit unit, const uint32_t* in, uint32_t* out, bool consecutive) {
    const size_t bytes = size_t(Width) * size_t(Height) * 4;
    auto passThrough = [&] {
        if (in && out && in != out) std::memmove(out, in, bytes);
    };
    if (!in || !out) return;
    std::lock_guard<std::mutex> guard(Lock);
    try {
        const Setup setup = Resolve();
        std::string key = setup.FlowPath + '\n' + Values[ParamFps].Text + '\n' + Values[ParamSeed].Text;
        if (key != FlowKey) {
            States.clear();
            Tool.reset();
            Flow.reset();
            Failed = false;
            FlowKey = std::move(key);
        }
        if (Failed) return passThrough();
        const int64_t offset = HostOffset(time, unit, consecutive, setup.Fps);
        try {
            if (!Flow) Flow = LoadFlowFile(setup.FlowPath);
            Draw(setup, Flow->First + offset, in, out);
        } catch (...) {
            Failed = true;
            States.clear();
            Tool.reset();
            throw;
        }
    } catch (const std::bad_alloc&) {
        Report("out of memory");
        passThrough();
    } catch (const std::exception& e) {
        Report(e.what());
        passThrough();
    } catch (...) {
        Report("the particle tool failed");
        passThrough();
    }
}

// The frame the host asks for, counted from the flow's first: its time as the
// nearest whole frame. Some hosts hand no usable time for some videos (ffmpeg 5.1
// hands its "no timestamp" value, scaled, for every frame of a file whose frames
// carry no presentation time); such a time is taken as the frame after the last
// one, so that the video still gets its particles, in the order the host hands
// its frames.
int64_t Filter::HostOffset(double time, TimeUnit unit, bool consecutive, double fps) {
    const double seconds = unit == TimeUnit::Milliseconds ? time / 1000.0 : time;
    const double frames = std::nearbyint(seconds * fps);
    const bool usable =
        std::isfinite(frames) && frames >= 0 && !(consecutive && LastTime && !(time > *LastTime));
    LastTime = time;
    if (usable && frames > 1e6) throw UserError("time " + NumberText(time) + " lies beyond a million frames");
    if (usable) return *(LastOffset = int64_t(frames));
    {
        std::lock_guard<std::mutex> guard(ProcessLock());
        if (Printed().insert("no usable time").second) {
            std::fprintf(stderr,
                         "lumets frei0r: the host gives no usable frame time (%s%s); frames are counted from the "
                         "first one at the \"fps\" parameter's rate\n",
                         NumberText(time).c_str(), unit == TimeUnit::Milliseconds ? " ms" : " s");
            std::fflush(stderr);
        }
    }
    LastOffset = LastOffset ? *LastOffset + 1 : 0;
    if (*LastOffset > 1000000) throw UserError("the frame count lies beyond a million frames");
    return *LastOffset;
}

void Filter::Draw(const Setup& setup, int64_t frame, const uint32_t* in, uint32_t* out) {
    // The incoming frame becomes the background: each 8-bit channel x 257.
    Image* background = new Image(int32_t(Width), int32_t(Height));
    struct Release {
        Image* Picture;
        ~Release() {
            if (Picture) Picture->Recycle();
        }
    } holdBackground{background};
    const auto* src = reinterpret_cast<const uint8_t*>(in);
    for (int32_t y = 0; y < int32_t(Height); ++y)
        for (int32_t x = 0; x < int32_t(Width); ++x) {
            const uint8_t* p = src + (size_t(y) * Width + size_t(x)) * 4;
            SetPixelAt(*background, x, y,
                       Rgba16{uint16_t(p[0] * 257u), uint16_t(p[1] * 257u), uint16_t(p[2] * 257u), uint16_t(p[3] * 257u)});
        }

    bool sameControls = Tool && ToolSets.size() == setup.Sets.size();
    for (size_t i = 0; sameControls && i < setup.Sets.size(); ++i)
        sameControls = ToolSets[i].first == setup.Sets[i].first;
    if (sameControls && frame == LastFrame + 1) {
        // The next frame: parameters the host changed reach the tool as edits.
        Tool->SetBackground(background);
        for (size_t i = 0; i < setup.Sets.size(); ++i)
            if (setup.Sets[i].second != ToolSets[i].second) {
                Tool->Controls().Set(Tool->Catalog().Require(setup.Sets[i].first), ValueOfText(setup.Sets[i].second),
                                     double(frame));
                Edited = true;
            }
        if (Edited) States.clear();
    } else {
        // A seek: from the nearest kept state, or from a new tool, the frames
        // before this one are simulated without drawing, so that the frame is
        // the one a render from the flow's first frame gives.
        if (!sameControls || Edited || setup.Sets != MadeSets) MakeTool(setup);
        Tool->SetBackground(background);
        SeekTo(setup, frame, background);
    }
    ToolSets = setup.Sets;
    ++Requests;
    Image* picture = Tool->RenderFrame(frame, false);
    Release holdPicture{picture};
    LastFrame = frame;
    KeepState(frame);
    if (picture->Width != int32_t(Width) || picture->Height != int32_t(Height))
        throw UserError("the tool's picture has another size than the video");
    // Out: each 16-bit channel rounded to 8 bits, (v + 128) / 257.
    auto* dst = reinterpret_cast<uint8_t*>(out);
    for (int32_t y = 0; y < int32_t(Height); ++y)
        for (int32_t x = 0; x < int32_t(Width); ++x) {
            const Rgba16 p = PixelAt(*picture, x, y);
            uint8_t* d = dst + (size_t(y) * Width + size_t(x)) * 4;
            d[0] = uint8_t((p.R + 128u) / 257u);
            d[1] = uint8_t((p.G + 128u) / 257u);
            d[2] = uint8_t((p.B + 128u) / 257u);
            d[3] = uint8_t((p.A + 128u) / 257u);
        }
}

// A new tool for the flow with the parameters' overrides, as made (before any
// frame), its state kept as the first of the states.
void Filter::MakeTool(const Setup& setup) {
    States.clear();
    Tool.reset();
    std::vector<std::string> warnings;
    SessionOptions options;
    options.Seed = setup.Seed;
    options.Sets = setup.Sets;
    options.Quiet = true;
    options.Warnings = &warnings;
    {
        std::lock_guard<std::mutex> guard(ProcessLock());
        ToolClass();
    }
    Tool = std::make_unique<Session>(*Flow, options);
    for (const std::string& w : warnings) Report("warning: " + w);
    MadeSets = setup.Sets;
    ToolSets = setup.Sets;
    Edited = false;
    LastFrame = Flow->First - 1;
    Interval = FirstStateInterval;
    // Buttons pressed by the flow's events may load, record or capture, which
    // the saved states do not cover: such flows are simulated from the start.
    StatesUsable = true;
    for (const FlowEvent& e : Flow->Events) {
        const ControlInfo* info = Tool->Catalog().Find(e.Press);
        if (!info || (info->Key != "FastForward" && info->Key != "ResetPosition")) StatesUsable = false;
    }
    KeepState(LastFrame);
}

// Brings the tool to the end of the frame before `frame`: from the nearest kept
// state at or before it (unless the tool already stands nearer), else from a
// new tool, simulating the frames in between.
void Filter::SeekTo(const Setup& setup, int64_t frame, Image* background) {
    if (auto it = States.lower_bound(frame); it != States.begin()) {
        --it;
        const bool toolIsNearer = LastFrame < frame && LastFrame >= it->first;
        if (!toolIsNearer) {
            if (Tool->RestoreState(*it->second, std::max(it->first, Flow->First)))
                LastFrame = it->first;
            else
                States.clear();
        }
    }
    if (LastFrame >= frame) {
        MakeTool(setup);
        Tool->SetBackground(background);
    }
    for (int64_t f = LastFrame + 1; f < frame; ++f) Step(f);
}

void Filter::Step(int64_t frame) {
    ++Requests;
    Tool->RenderFrame(frame, true);
    LastFrame = frame;
    KeepState(frame);
}

// Keeps the tool's state after `frame` when the frame lies on the grid of
// states, thinning the grid when there are too many.
void Filter::KeepState(int64_t frame) {
    const int64_t base = Flow->First - 1;
    if (!StatesUsable || (frame - base) % Interval != 0 || States.count(frame)) return;
    std::unique_ptr<SimulationState> state = Tool->SaveState();
    if (!state) return;
    States[frame] = std::move(state);
    while (States.size() > MaxStates) {
        Interval *= 2;
        for (auto it = States.begin(); it != States.end();)
            it = (it->first - base) % Interval != 0 ? States.erase(it) : std::next(it);
    }
}

}  // namespace lumets::frei0r
