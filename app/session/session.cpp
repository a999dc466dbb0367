#include "app/session/session.h"

#include <regex>

#include "app/io/errors.h"
#include "app/session/progress.h"
#include "host/platform.h"
#include "host/plugins.h"
#include "operator/control_table.h"

namespace lumets {

Registry& ParticleClass() {
    static bool loaded = false;
    if (!loaded) {
        plugins::LoadAll();
        loaded = true;
    }
    if (Registry* reg = ClassRegistry.Find(controls::ClassName)) return *reg;
    std::string where;
    for (const std::string& f : plugins::SearchFolders()) where += (where.empty() ? "" : ":") + f;
    std::string errors;
    for (const std::string& e : plugins::LoadErrors()) errors += "; " + e;
    throw UserError(std::string("the particle plug-in (class \"") + controls::ClassName + "\") was not found in " +
                    (where.empty() ? std::string("no plug-in folder") : where) +
                    " (set LUMETS_PLUGIN_PATH)" + errors);
}

std::map<uint32_t, std::string> ControlNames(const Registry& reg) {
    const Resource r = reg.GetResource(2001);
    if (!r.Data || r.Size == 0)
        throw UserError("the particle plug-in has no control-name table (resource 2001)");
    return ParseNameTable(std::string(reinterpret_cast<const char*>(r.Data), r.Size));
}

std::pair<int64_t, int64_t> ParseFrameRange(const std::string& text) {
    static const std::regex form(R"(^\s*(-?\d{1,7})\s*(?:-\s*(-?\d{1,7})\s*)?$)");
    std::smatch m;
    if (!std::regex_match(text, m, form))
        throw UserError("bad frame range \"" + text + "\" (use A-B, for example 0-99)");
    const int64_t a = std::stoll(m[1].str());
    const int64_t b = m[2].matched ? std::stoll(m[2].str()) : a;
    if (b < a) throw UserError("bad frame range \"" + text + "\": the last frame is before the first");
    return {a, b};
}

Session::Session(FlowFile flow, const SessionOptions& options) : Spec(std::move(flow)), Options(options) {
    Reg = &ParticleClass();
    const auto names = ControlNames(*Reg);

    // Images first: a missing file is reported before anything else happens.
    Background = std::make_unique<ImageFeed>(Spec.Background, Options.Proxy, "background");
    Particle = std::make_unique<ImageFeed>(Spec.Particle, Options.Proxy, "particle");

    TagList tags{{Tags::RandomSeed, int32_t(Options.Seed.value_or(Spec.Seed))}};
    if (Spec.OperatorData) {
        CArchive archive(*Spec.OperatorData);
        try {
            Op = CreateFromSaved(Reg, &archive, &tags);
        } catch (const CArchiveException& e) {
            throw UserError(Spec.Name + ": \"operatorData\" cannot be restored: " + e.what());
        }
    } else {
        Op = Reg->Create(nullptr, &tags);
    }
    if (!Op) throw UserError("the particle plug-in made no tool");
    HostFlow = std::make_unique<Flow>(double(Spec.First), double(Spec.Last));

    try {
        Names = ControlCatalog(*Op, names);
        BackgroundInput = Names.ImageInput("Image");
        ParticleInput = Names.ImageInput("Particle");
        if (!BackgroundInput || !ParticleInput)
            throw UserError("the particle tool has no \"Image\" and \"Particle\" inputs");

        Json controls = Spec.Controls;
        for (const auto& [name, value] : Options.Sets) {
            // A --set replaces the flow's value of the same control, whatever name the flow used.
            const ControlInfo& info = Names.Require(name);
            for (auto it = controls.begin(); it != controls.end();) {
                if (Names.Find(it.key()) == &info)
                    it = controls.erase(it);
                else
                    ++it;
            }
            controls[name] = ParseSetValue(value);
        }
        std::vector<std::string> warnings;
        auto tracks = BindControls(controls, Names, &warnings);
        if (Options.Warnings)
            Options.Warnings->insert(Options.Warnings->end(), warnings.begin(), warnings.end());
        else
            for (const std::string& w : warnings) std::fprintf(stderr, "lumets: warning: %s\n", w.c_str());
        Driver = std::make_unique<ControlDriver>(Op, std::move(tracks), BindEvents(Spec.Events, Names));
    } catch (...) {
        Op->Recycle();
        Op = nullptr;
        throw;
    }

    // The flow's values are in place when the tool joins the flow (as a restored
    // flow's are), then each reaches the tool through its change notification.
    const double first = double(Spec.First);
    Driver->SetValues(first);
    HostFlow->AddTool(Op);  // the flow takes our reference
    Driver->NotifyAll(first);
    HostFlow->PrepareFrame = [this](Operator*, double time) { return PrepareFrame(time); };
}

Session::~Session() {
    if (FramesOpen) {
        try {
            EndFrames();
        } catch (...) {
        }
    }
    // The flow releases the tool before the image inputs' pictures go.
    HostFlow.reset();
    if (HostBackground) HostBackground->Recycle();
}

void Session::CheckInputs(int64_t from, int64_t to) {
    Background->Check(from, to);
    Particle->Check(from, to);
}

bool Session::PrepareFrame(double time) {
    if (FrameError) return false;
    if (StopRequested()) return false;
    if (Options.StopWhen && Options.StopWhen()) return false;
    try {
        const auto frame = int64_t(std::llround(time));
        BackgroundInput->SetValue(HostBackground ? HostBackground : Background->At(frame), time, 1);
        ParticleInput->SetValue(Particle->At(frame), time, 1);
        Driver->BeforeFrame(time, EventsOn);
    } catch (const UserError& e) {
        FrameError = e.what();
        return false;
    }
    return true;
}

void Session::Render(int64_t from, int64_t to, bool warmup, uint32_t requestFlags,
                     const std::function<void(int64_t, Image*)>& write, const std::string& verb) {
    Render(FrameList::Range(from, to), warmup, requestFlags, write, verb);
}

void Session::Render(const FrameList& frames, bool warmup, uint32_t requestFlags,
                     const std::function<void(int64_t, Image*)>& write, const std::string& verb) {
    if (frames.Empty()) return;
    const int64_t from = frames.First(), to = frames.Last();
    const int64_t start = warmup && from > Spec.First ? Spec.First : from;
    Flow& flow = *HostFlow;
    // The render's settings go however it ends: they refer to this call's locals.
    struct Reset {
        Flow& F;
        void operator()() const {
            F.FrameDone = nullptr;
            F.DrawFrame = nullptr;
            F.SimulateOnlyBefore = -1e300;
            F.RequestFlags = 0;
        }
        ~Reset() { (*this)(); }
    } reset{flow};
    flow.RequestFlags = requestFlags;
    flow.SimulateOnlyBefore = start < from ? double(from - 1) : -1e300;
    if (!frames.Contiguous()) flow.DrawFrame = [&](double time) { return frames.Contains(int64_t(std::llround(time))); };
    if (start < from)
        ProgressNote("simulating frames " + std::to_string(start) + "-" + std::to_string(from - 1) +
                         " before the first frame drawn",
                     Options.Quiet);
    Progress progress(int64_t(frames.Size()), Options.Quiet, verb);
    flow.FrameDone = [&](Operator*, double time, Image* picture) {
        const auto frame = int64_t(std::llround(time));
        if (frame >= from && !FrameError && frames.Contains(frame)) {
            try {
                if (!picture) throw UserError("the tool gave no picture for frame " + std::to_string(frame));
                write(frame, picture);
                progress.Step(frame);
            } catch (const UserError& e) {
                FrameError = e.what();
            }
        }
        if (picture) picture->Recycle();
    };
    const bool finished = flow.Render(double(start), double(to));
    progress.Finish();
    reset();
    if (FrameError) throw UserError(*FrameError);
    if (!finished) throw Interrupted("stopped by the user");
    // Buttons pressed by the flow's events may have posted passes of their own.
    if (!flow.Port().Empty()) ServeRequests(verb);
}

void Session::RenderFrom(int64_t start, int64_t to, const std::function<void(Image*)>& write,
                         const std::function<void(int64_t)>& after) {
    Flow& flow = *HostFlow;
    flow.RequestFlags = 0;
    flow.SimulateOnlyBefore = double(to - 1);
    flow.FrameDone = [&](Operator*, double time, Image* picture) {
        const auto frame = int64_t(std::llround(time));
        if (!FrameError) {
            try {
                if (frame == to) {
                    if (!picture) throw UserError("the tool gave no picture for frame " + std::to_string(frame));
                    write(picture);
                }
                after(frame);
            } catch (const UserError& e) {
                FrameError = e.what();
            }
        }
        if (picture) picture->Recycle();
    };
    const bool finished = flow.Render(double(start), double(to));
    flow.FrameDone = nullptr;
    flow.SimulateOnlyBefore = -1e300;
    if (FrameError) throw UserError(*FrameError);
    if (!finished) throw Interrupted("stopped by the user");
}

bool Session::RestoreState(const SimulationState& state, int64_t frame) {
    if (!Op->RestoreState(state)) return false;
    Driver->Rewind(double(frame));
    return true;
}

void Session::Prime() {
    Flow& flow = *HostFlow;
    EventsOn = false;
    flow.SimulateOnlyBefore = double(Spec.First);
    flow.FrameDone = nullptr;
    const bool finished = flow.Render(double(Spec.First), double(Spec.First));
    flow.SimulateOnlyBefore = -1e300;
    EventsOn = true;
    if (FrameError) throw UserError(*FrameError);
    if (!finished) throw Interrupted("stopped by the user");
}

void Session::SetBackground(Image* picture) {
    if (picture) picture->AddRef();
    if (HostBackground) HostBackground->Recycle();
    HostBackground = picture;
}

void Session::StartFrames() {
    if (FramesOpen) EndFrames();
    HostFlow->StartRender();
    FramesOpen = true;
}

Image* Session::RenderFrame(int64_t frame, bool simulateOnly) {
    if (!FramesOpen) StartFrames();
    Flow& flow = *HostFlow;
    const double time = double(frame);
    Image* result = nullptr;
    flow.SimulateOnlyBefore = simulateOnly ? time : -1e300;
    flow.FrameDone = [&](Operator*, double, Image* picture) {
        if (result) result->Recycle();
        result = picture;
    };
    bool done = false;
    try {
        done = flow.RenderFrame(time);
    } catch (...) {
        flow.FrameDone = nullptr;
        flow.SimulateOnlyBefore = -1e300;
        if (result) result->Recycle();
        throw;
    }
    flow.FrameDone = nullptr;
    flow.SimulateOnlyBefore = -1e300;
    if (FrameError || !done || (!simulateOnly && !result)) {
        if (result) result->Recycle();
        if (FrameError) throw UserError(*FrameError);
        if (!done) throw Interrupted("stopped by the user");
        throw UserError("the tool gave no picture for frame " + std::to_string(frame));
    }
    if (simulateOnly && result) {
        result->Recycle();
        result = nullptr;
    }
    return result;
}

void Session::EndFrames() {
    if (!FramesOpen) return;
    FramesOpen = false;
    HostFlow->EndRender();
}

int Session::ServeRequests(const std::string& verb) {
    Flow& flow = *HostFlow;
    int served = 0;
    double lastStart = 0, lastEnd = 0;
    while (!flow.Port().Empty()) {
        std::unique_ptr<RenderMessage> msg = flow.Port().GetMsg();
        if (!msg) break;
        // A pass that left the same pass behind would run for ever: a flow event
        // within its frames presses the button that starts it again.
        if (served > 0 && msg->Start == lastStart && msg->End == lastEnd)
            throw UserError("the flow's events start the same " + verb + " pass again each time it runs (an event " +
                            "within its frames presses the button that starts it)");
        lastStart = msg->Start;
        lastEnd = msg->End;
        const auto first = int64_t(std::llround(msg->Start)), last = int64_t(std::llround(msg->End));
        CheckInputs(first, std::max(first, last));
        Progress progress(last - first + 1, Options.Quiet, verb);
        flow.FrameDone = [&](Operator*, double time, Image* picture) {
            progress.Step(int64_t(std::llround(time)));
            if (picture) picture->Recycle();
        };
        const bool finished = flow.Render(msg->Start, msg->End);
        progress.Finish();
        flow.FrameDone = nullptr;
        ++served;
        if (FrameError) throw UserError(*FrameError);
        if (!finished) throw Interrupted("stopped by the user");
    }
    return served;
}

}  // namespace lumets
