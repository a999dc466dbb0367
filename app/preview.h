#pragma once
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/flow_loader.h"

namespace lumets {

class Session;

// The page's assets, compiled into the program: path ("/", "/preview.js") to
// (content type, bytes).
const std::map<std::string, std::pair<std::string, std::string>>& PreviewAssets();

// A flow opened for `lumets preview`: the flow as edited so far, a live tool that
// every edit reaches (value, then change notification) so that its change handling
// shows and hides controls and its buttons can be pressed, and the frames of the
// edited flow, each rendered as `lumets render` renders it. Thread-safe: every
// call holds one lock.
class PreviewDocument {
public:
    // Opens the flow; `frames` ("A-B", may be empty) limits the timeline to part
    // of the flow's frames. Throws UserError.
    PreviewDocument(const std::string& path, const std::string& frames, const std::string& workFolder);
    ~PreviewDocument();

    int64_t First() const { return TimelineFirst; }
    int64_t Last() const { return TimelineLast; }

    // The tool's control description (as `lumets controls --json`), the flow's
    // frames and name, and every control's value and state at a frame.
    Json Describe(int64_t frame);
    // Sets a control from the page at a frame. A constant value is replaced; a
    // keyframed one gets (or replaces) the key at that frame. Returns the
    // warnings (values limited to their range). Throws UserError for an unknown
    // control, a button, or a value of the wrong kind.
    std::vector<std::string> Set(const std::string& name, const Json& value, int64_t frame);
    // Presses a button of the live tool; `file` answers the dialog the press opens
    // (a plain file name in the flow's folder). Returns the message boxes shown.
    Json Press(const std::string& name, const std::optional<std::string>& file, int64_t frame);
    // Frame n of the edited flow as PNG bytes (the file `lumets render` writes).
    // quick: nearest-pixel sampling; proxy: 1/N size.
    std::string Frame(int64_t n, bool quick, int proxy);
    // Writes the edited flow back to its file, or to a new name in its folder
    // (which then becomes the flow being edited). Returns the path written.
    std::string Save(const std::optional<std::string>& newName);
    // Starts the render `lumets render FLOW` does, in the background.
    void StartRender();
    Json RenderStatus();

private:
    void Rebuild();
    std::string InFolder(const std::string& name, bool mustBeNew) const;
    std::string RenderOne(int64_t n, bool quick, int proxy);
    std::string RenderFromStates(int64_t n);

    std::mutex Lock;
    std::string Path, Folder, Name, WorkFolder;
    Json Raw;  // the flow file as edited
    int64_t FlowFirst = 0, FlowLast = 0, TimelineFirst = 0, TimelineLast = 0;
    std::unique_ptr<Session> Live;
    Json Description;
    uint64_t Generation = 0;  // bumped by every edit
    struct CachedFrame {
        uint64_t Generation;
        std::string Png;
    };
    std::map<std::tuple<int64_t, bool, int>, CachedFrame> Cache;
    size_t CacheBytes = 0;

    // Scrubbing: a session of the edited flow whose simulation states are kept
    // after every few frames (and after the last frame rendered), so that a frame
    // is rendered from the nearest earlier state instead of from the start.
    std::unique_ptr<Session> Scrub;
    uint64_t ScrubGeneration = 0;
    std::map<int64_t, std::unique_ptr<SimulationState>> States;
    int64_t LatestState = INT64_MIN;  // the state kept off the grid (the last frame rendered)
    int64_t StateInterval = 4;
    bool StatesUsable = true;  // the flow presses no buttons that change more than the simulation

    struct RenderJob;
    std::shared_ptr<RenderJob> Job;
};

// `lumets preview`: serves the page on 127.0.0.1 until Ctrl-C. port 0 picks a
// free port. Returns the exit status.
int RunPreview(const std::string& flow, int port, const std::string& frames);

}  // namespace lumets
