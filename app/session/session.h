#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/session/control_catalog.h"
#include "app/session/control_driver.h"
#include "app/session/flow_loader.h"
#include "app/io/frame_list.h"
#include "app/io/frame_pattern.h"
#include "app/session/image_feed.h"
#include "host/flow.h"
#include "host/registry.h"

namespace lumets {

// The tool's class in the plug-in module: loads the plug-in folders once and
// finds the tool's class (controls::ClassName). Throws UserError when it is not there.
Registry& ParticleClass();
// The plug-in's control-name table (its resource 2001).
std::map<uint32_t, std::string> ControlNames(const Registry& reg);

struct SessionOptions {
    std::optional<uint32_t> Seed;                               // overrides the flow's seed
    int Proxy = 1;                                              // reduce both image inputs by this factor
    std::vector<std::pair<std::string, std::string>> Sets;     // --set NAME=VALUE, in order
    bool Quiet = false;
    // When set, warnings about the flow (values limited to a control's range) are
    // added here instead of being printed.
    std::vector<std::string>* Warnings = nullptr;
    // Asked before each frame's request: true stops the render there, as Ctrl-C
    // does (a host that watches for its own interruptions, such as a script's).
    std::function<bool()> StopWhen;
};

// One flow loaded for rendering: the tool made through the plug-in's factory
// (restored from the flow's operator data when present) inside a host flow, its
// controls set from the flow, and the two image inputs fed frame by frame.
class Session {
public:
    Session(FlowFile flow, const SessionOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Operator* Tool() const { return Op; }
    Flow& TheFlow() { return *HostFlow; }
    const FlowFile& File() const { return Spec; }
    const ControlCatalog& Catalog() const { return Names; }
    ControlDriver& Controls() { return *Driver; }

    // Checks that the image inputs can deliver frames from..to (files exist and open).
    void CheckInputs(int64_t from, int64_t to);

    // Renders frames from..to. With warm-up (the default) the frames of the flow
    // before `from` are run first as simulate-only requests whose pictures are
    // dropped, so that the frames written equal those of a render from the flow's
    // first frame. Each written frame goes to `write`. Throws Interrupted on Ctrl-C
    // and UserError for a failure during the render.
    void Render(int64_t from, int64_t to, bool warmup, uint32_t requestFlags,
                const std::function<void(int64_t frame, Image* picture)>& write, const std::string& verb);
    // Renders the frames of a list: the simulation runs through every frame from
    // the first listed one (or, with warm-up, the flow's first frame) to the last
    // listed one, and only the listed frames are drawn and go to `write`, so each
    // equals the same frame of a render from the flow's first frame.
    void Render(const FrameList& frames, bool warmup, uint32_t requestFlags,
                const std::function<void(int64_t frame, Image* picture)>& write, const std::string& verb);

    // Renders frame `to` after the simulate-only frames start..to-1, from the
    // tool's state as it is (fresh, or restored from a saved state of frame
    // start-1); `after` runs after every frame's request, before the next one.
    void RenderFrom(int64_t start, int64_t to, const std::function<void(Image* picture)>& write,
                    const std::function<void(int64_t frame)>& after);
    // The tool's simulation state after the last frame request (or as made, before
    // any); null when the tool cannot give it now.
    std::unique_ptr<SimulationState> SaveState() { return Op->SaveState(); }
    // Puts back a state saved after frame `frame` (for the state saved before any
    // request, the flow's first frame): the tool's state and the keyframed values.
    bool RestoreState(const SimulationState& state, int64_t frame);

    // Runs one simulate-only request at the flow's first frame so that the tool's
    // frame settings (recording and capture ranges) hold the flow's values.
    void Prime();
    // Serves the render requests the tool posted (recording, capture passes); the
    // frames get their inputs as in a render and their pictures are dropped. A pass
    // that posts itself again is refused rather than served for ever.
    int ServeRequests(const std::string& verb);

    // Frames one at a time, for hosts that hand over each frame's background (a
    // video filter). SetBackground replaces the flow's background for the frames
    // that follow (the session holds a reference; null gives the flow's back).
    // StartFrames opens a render that stays open until EndFrames (or the end of the
    // session); RenderFrame renders one frame of it: simulated without drawing
    // (result null) or drawn (the picture, one reference for the caller). Throws
    // UserError for a failure during the frame.
    void SetBackground(Image* picture);
    void StartFrames();
    Image* RenderFrame(int64_t frame, bool simulateOnly);
    void EndFrames();

private:
    bool PrepareFrame(double time);

    FlowFile Spec;
    SessionOptions Options;
    Registry* Reg = nullptr;
    Operator* Op = nullptr;
    std::unique_ptr<Flow> HostFlow;
    ControlCatalog Names;
    std::unique_ptr<ControlDriver> Driver;
    std::unique_ptr<ImageFeed> Background, Particle;
    Input* BackgroundInput = nullptr;
    Input* ParticleInput = nullptr;
    Image* HostBackground = nullptr;
    bool FramesOpen = false;
    bool EventsOn = true;
    std::optional<std::string> FrameError;  // a failure inside the render loop
};

// Parses "A-B" (or a single frame "A") into a range; throws UserError.
std::pair<int64_t, int64_t> ParseFrameRange(const std::string& text);

}  // namespace lumets
