#pragma once
#include <atomic>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/session/flow_loader.h"

namespace lumets {

class Session;

// The page's assets, compiled into the program: path ("/", "/preview.js") to
// (content type, bytes).
const std::map<std::string, std::pair<std::string, std::string>>& PreviewAssets();

// A flow opened for `lumets preview`: the flow as edited so far, a live tool that
// every edit reaches (value, then change notification) so that its change handling
// shows and hides controls and its buttons can be pressed, and the frames of the
// edited flow, each rendered as `lumets render` renders it. Thread-safe.
//
// Full-size frames, quick or not, are simulated from saved simulation states
// (kept every few frames, in at most StateBudget of memory), so that a frame costs at most one interval of steps
// once the frames before it have been visited. Reduced (proxy) frames cannot
// share them: a reduced source whose size does not divide evenly changes the
// simulation, and the tool gives no state while its source is reduced; they go
// on in a reduced session of their own, from the start for an earlier frame.
// A seek is the only long call: every newer request that changes what the page
// shows (a frame, an edit, a press, a save, a render) stops it between two
// frames with Superseded, keeping what it reached; the render status and the
// description never wait for it.
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
    // control, a button, a value of the wrong kind, or a file name (SystemFile)
    // that is not a regular file in the flow's folder.
    // `value` may also be {"keys": [[frame, value], ...]}, replacing the whole
    // keyed value. Numbers from the page are rounded (see RoundedValue). A drag
    // is a run of sets with final false ended by one with final true: it is one
    // edit for Undo.
    std::vector<std::string> Set(const std::string& name, const Json& value, int64_t frame, bool final = true);
    // Keys a control at a frame with its value there; removes the key at `frame`
    // (the last key removed leaves the control constant at its value); moves the
    // key at `frame` to `to` (replacing a key there). Returns the control's key
    // frames; warnings go to `warnings`. Throws UserError for a button, a text
    // (file name) control, an unknown control, a frame outside the flow or a key
    // that is not there.
    enum class KeyEdit { Add, Remove, Move };
    std::vector<int64_t> Key(const std::string& name, KeyEdit what, int64_t frame, int64_t to,
                             std::vector<std::string>* warnings);
    // Undoes or redoes one edit of the flow. Returns false (and does nothing)
    // when there is none; `label` names the edit.
    bool Undo(std::string* label);
    bool Redo(std::string* label);
    // The flow as edited, as Save writes it.
    std::string FlowText();
    // Presses a button of the live tool; `file` answers the dialog the press opens:
    // a plain file name in the flow's folder, naming a regular file there (not a
    // link) or a new name, never the flow itself. Returns the message boxes shown.
    Json Press(const std::string& name, const std::optional<std::string>& file, int64_t frame);
    // Frame n of the edited flow as PNG bytes (the file `lumets render` writes).
    // quick: nearest-pixel sampling; proxy: 1/N size. Throws Superseded when a
    // newer request stopped it.
    std::string Frame(int64_t n, bool quick, int proxy);
    // Writes the edited flow back to its file, or to a new name in its folder
    // (which then becomes the flow being edited). Returns the path written.
    std::string Save(const std::optional<std::string>& newName);
    // Starts the render `lumets render FLOW` does, in the background.
    void StartRender();
    Json RenderStatus();

    // Frame requests made of the tool for Frame so far (simulated or drawn): the
    // cost of the seeks, for tests.
    uint64_t StepsSimulated() const { return Steps; }
    // Simulation states held for scrubbing and their memory, for tests.
    size_t StatesHeld();
    size_t StateBytes();
    // The bound on the states' memory (StateBudget); the states held so far go.
    void SetStateBudget(size_t bytes);

private:
    struct Track;
    void Rebuild();
    std::string InFolder(const std::string& name, bool mustBeNew) const;
    std::string DialogAnswer(const std::string& name) const;
    Json CheckedFileName(const ControlInfo& info, const Json& value) const;
    std::string RenderFrame(Track& track, int64_t n, bool quick, uint64_t ticket);
    void StopIfSuperseded(uint64_t ticket) const;
    // Makes `candidate` the flow as edited, after the checks a flow's values
    // pass, remembering the flow before it for Undo unless the edit continues an
    // open drag. Returns the bound track of `info` in the new flow, if it holds it.
    std::optional<ControlTrack> Commit(Json candidate, const ControlInfo& info, const std::string& label, bool continuesDrag,
                        std::vector<std::string>* warnings);
    std::string TextLocked() const;

    // Guards the flow as edited, the live tool and the frame cache; held briefly.
    std::mutex Lock;
    std::string Path, Folder, Name, WorkFolder;
    Json Raw;  // the flow file as edited
    // The flow as loaded or last saved, and its text: an untouched flow is saved
    // as it was written.
    Json SavedRaw;
    std::string SavedText;
    // Undo and redo: the flow's controls before each edit (after, for redo), with
    // a label; at most HistoryLimit each. A drag in progress names its control.
    struct HistoryEntry {
        Json Controls;
        std::string Label;
    };
    std::vector<HistoryEntry> Undos, Redos;
    bool StepHistory(std::vector<HistoryEntry>& from, std::vector<HistoryEntry>& to, std::string* label);
    std::string OpenDrag;
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

    // Every request that makes a seek pointless takes a new ticket; a seek
    // running under an older one stops before its next frame.
    std::atomic<uint64_t> Ticket{0};
    std::atomic<uint64_t> Steps{0};

    // Held for the whole of one frame's simulation: the scrubbing sessions, for
    // full size and one reduced size, each a session of the edited flow whose
    // render stays open between requests (so a later frame goes on where it
    // stopped) and, where the tool gives them, its states kept every few frames.
    std::mutex SeekLock;
    std::map<int, std::unique_ptr<Track>> Tracks;
    int64_t StateInterval = 4;
    // The full-size track's states take at most this much memory (reduced sizes
    // keep none): past it their grid is thinned to a coarser one.
    size_t StateBudget = size_t(256) << 20;

    struct RenderJob;
    std::mutex JobLock;  // guards Job only, so that the status never waits on a frame or a press
    std::shared_ptr<RenderJob> Job;
};

// `lumets preview`: serves the page on 127.0.0.1 until Ctrl-C. port 0 picks a
// free port. Returns the exit status.
int RunPreview(const std::string& flow, int port, const std::string& frames);

}  // namespace lumets
