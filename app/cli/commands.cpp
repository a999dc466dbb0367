#include "app/cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "app/io/base64.h"
#include "app/cli/demo_flow.h"
#include "app/io/errors.h"
#include "app/farm/farm.h"
#include "app/session/flow_loader.h"
#include "app/io/frame_list.h"
#include "app/io/frame_pattern.h"
#include "app/io/image_io.h"
#include "app/io/motion_file.h"
#include "app/io/output_file.h"
#include "app/preview/preview.h"
#include "app/session/progress.h"
#include "app/session/control_listing.h"
#include "app/session/session.h"
#include "host/platform.h"
#include "host/plugins.h"
#include "host/registry.h"
#include "operator/control_table.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

SessionOptions OptionsFrom(const RenderArgs& a) {
    SessionOptions o;
    if (a.Seed >= 0) o.Seed = uint32_t(a.Seed);
    o.Proxy = a.Proxy;
    o.Quiet = a.Quiet;
    for (const std::string& s : a.Sets) {
        const size_t eq = s.find('=');
        if (eq == std::string::npos || eq == 0) throw UserError("bad --set \"" + s + "\" (use NAME=VALUE)");
        o.Sets.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    }
    return o;
}

std::pair<int64_t, int64_t> RangeWithin(const FlowFile& flow, const std::string& text) {
    if (text.empty()) return {flow.First, flow.Last};
    const auto range = ParseFrameRange(text);
    if (range.first < flow.First || range.second > flow.Last)
        throw UserError("frames " + text + " lie outside the flow's frames " + std::to_string(flow.First) + "-" +
                        std::to_string(flow.Last));
    return range;
}

// The frames of --frames (a frame list; default: the flow's frames), all within the flow.
FrameList FramesWithin(const FlowFile& flow, const std::string& text) {
    if (text.empty()) return FrameList::Range(flow.First, flow.Last);
    FrameList frames = FrameList::Parse(text);
    if (frames.First() < flow.First || frames.Last() > flow.Last)
        throw UserError("frames " + text + " lie outside the flow's frames " + std::to_string(flow.First) + "-" +
                        std::to_string(flow.Last));
    return frames;
}

// Checks an output pattern before any work: its frame-number field and its
// extension (the format).
FramePattern OutputPattern(const std::string& text, const FrameList& frames) {
    if (text.empty()) throw UserError("no output: give -o PATTERN or an \"output\" in the flow");
    FramePattern pattern(text);
    if (!pattern.HasField() && frames.Size() > 1)
        throw UserError("output \"" + text + "\" has no frame-number field (#### or %04d) for " +
                        std::to_string(frames.Size()) + " frames");
    const std::string ext = fs::path(text).extension().string();
    if (ext.empty() || ext.find_first_of("#%") != std::string::npos)
        throw UserError("output \"" + text + "\" has no file extension" +
                        (ext.empty() ? "" : " after the frame number") + " (end it in .png, .tif, .exr or .jpg)");
    CheckOutputFormat(pattern.At(frames.First()));
    return pattern;
}

// Makes the folders the frames go to before the first frame is simulated, so
// that a render that cannot write fails at once rather than after the warm-up.
void MakeOutputFolders(const FramePattern& pattern, const FrameList& frames) {
    for (const int64_t frame : {frames.First(), frames.Last()}) {
        const fs::path parent = fs::path(pattern.At(frame)).parent_path();
        if (parent.empty()) continue;
        std::error_code ec;
        fs::create_directories(parent, ec);
        if (ec || !fs::is_directory(parent, ec))
            throw UserError("cannot create folder " + parent.string() + " for the output: " +
                            (ec ? ec.message() : std::string("a file of that name is in the way")));
    }
}

// Where the name part of an output file name ends: before the separator ('.', '_'
// or '-') in front of its frame-number field, else before the field, else (a name
// without a field) before its extension.
size_t NameEnd(const std::string& fileName) {
    for (size_t i = 0; i < fileName.size(); ++i) {
        if (fileName[i] == '%' && i + 1 < fileName.size() && fileName[i + 1] == '%') {
            ++i;
            continue;
        }
        if (fileName[i] != '#' && fileName[i] != '%') continue;
        const char before = i > 0 ? fileName[i - 1] : '\0';
        return before == '.' || before == '_' || before == '-' ? i - 1 : i;
    }
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos || dot == 0 ? fileName.size() : dot;
}

// The output pattern with `name` in place of the name part of its file name:
// "out/fountain.####.png" named "take" is "out/take.####.png".
std::string RenamedOutput(const std::string& pattern, const std::string& name) {
    const fs::path path(pattern);
    const std::string file = path.filename().string();
    const size_t end = NameEnd(file);
    std::string rest = file.substr(end);
    if (end == 0 && !rest.empty() && rest[0] != '.' && rest[0] != '_' && rest[0] != '-') rest = "." + rest;
    return (path.parent_path() / (name + rest)).string();
}

// play's default output: the flow's output with ".play" (".reverse" when played
// backwards) after its name part, so that it never writes over render's frames:
// "out/fountain.####.png" plays to "out/fountain.play.####.png".
std::string PlayOutput(const std::string& flowOutput, bool reverse) {
    if (flowOutput.empty()) return flowOutput;
    const std::string file = fs::path(flowOutput).filename().string();
    const std::string name = file.substr(0, NameEnd(file));
    return RenamedOutput(flowOutput, (name.empty() ? "" : name + ".") + (reverse ? "reverse" : "play"));
}

void ApplyThreads(int threads) {
    if (threads > 0) SetWorkerThreads(threads);
}

// Warnings and failures the tool reported through message boxes since the last
// clear, told apart by their kind.
std::vector<platform::MessageRecord> Messages() { return platform::Default().Messages(); }
bool SawMessage(platform::MessageKind kind) {
    for (const auto& m : Messages())
        if (m.Kind == kind) return true;
    return false;
}
std::optional<std::string> FirstWarning() {
    for (const auto& m : Messages())
        if (platform::IsWarning(m.Kind)) return m.Title + ": " + m.Text;
    return std::nullopt;
}

// The tool's message boxes during a recording pass, held back and printed when
// the pass is over. A pass stopped by Ctrl-C still reaches the render end, where
// the tool announces the file it was writing ("Output File written!"): that
// announcement is printed only for a recording that was completed and checked.
class HeldToolMessages {
public:
    HeldToolMessages() : From(Messages().size()) { platform::Default().SetEcho(false); }
    ~HeldToolMessages() { Print(false); }
    HeldToolMessages(const HeldToolMessages&) = delete;
    HeldToolMessages& operator=(const HeldToolMessages&) = delete;

    // Prints what the tool said, as it would have been printed; its confirmation
    // of a written file only when `complete`.
    void Print(bool complete) {
        if (Printed) return;
        Printed = true;
        platform::Default().SetEcho(true);
        const std::vector<platform::MessageRecord> all = Messages();
        for (size_t i = From; i < all.size(); ++i) {
            if (!complete && all[i].Kind == platform::MessageKind::RecordingWritten) continue;
            std::fprintf(stderr, "%s: %s\n", all[i].Title.c_str(), all[i].Text.c_str());
        }
    }

private:
    size_t From;
    bool Printed = false;
};

// Renders frames of a loaded session to the output pattern.
void RenderFrames(Session& session, const RenderArgs& a, const std::string& outputText, const std::string& verb) {
    const FrameList frames = FramesWithin(session.File(), a.Frames);
    const int64_t from = frames.First(), to = frames.Last();
    const FramePattern pattern = OutputPattern(outputText, frames);
    const bool warmup = !a.NoWarmup;
    session.CheckInputs(warmup ? std::min(from, session.File().First) : from, to);
    MakeOutputFolders(pattern, frames);
    ApplyThreads(a.Threads);
    const uint32_t flags = a.Quick ? Request::FlagQuick : 0;
    session.Render(
        frames, warmup, flags, [&](int64_t frame, Image* picture) { WriteImageFile(*picture, pattern.At(frame)); },
        verb);
    if (!a.Quiet) {
        const auto n = int64_t(frames.Size());
        std::printf("wrote %lld frame%s: %s%s\n", (long long)n, n == 1 ? "" : "s", pattern.At(from).c_str(),
                    n > 1 ? (" .. " + pattern.At(to)).c_str() : "");
    }
}

}  // namespace

int CommandRender(const RenderArgs& a) {
    FlowFile flow = LoadFlowFile(a.Flow);
    const std::string output = a.Output.empty() ? flow.Output : a.Output;
    OutputPattern(output, FramesWithin(flow, a.Frames));
    Session session(std::move(flow), OptionsFrom(a));
    RenderFrames(session, a, output, "frame");
    return 0;
}

int RenderFlow(FlowFile flow, const RenderArgs& a, const FrameSink& sink) {
    const FrameList frames = FramesWithin(flow, a.Frames);
    SessionOptions options = OptionsFrom(a);
    options.StopWhen = sink.StopWhen;
    Session session(std::move(flow), options);
    const bool warmup = !a.NoWarmup;
    session.CheckInputs(warmup ? std::min(frames.First(), session.File().First) : frames.First(), frames.Last());
    ApplyThreads(a.Threads);
    session.Render(frames, warmup, a.Quick ? Request::FlagQuick : 0, sink.Write, "frame");
    return 0;
}

int CommandDemo(const RenderArgs& a) {
    FlowFile flow = ParseFlow(DemoFlowJson, "demo", "");
    const std::string dir = a.Output.empty() ? "out/demo" : a.Output;
    const std::string output = (fs::path(dir) / "demo.####.png").string();
    FramesWithin(flow, a.Frames);
    Session session(std::move(flow), OptionsFrom(a));
    RenderFrames(session, a, output, "frame");
    if (!a.Quiet) std::printf("demo frames are in %s\n", dir.c_str());
    return 0;
}

int CommandRecord(const RenderArgs& a) { return RecordFlow(LoadFlowFile(a.Flow), a, {}); }

int RecordFlow(FlowFile flow, const RenderArgs& a, const std::function<bool()>& stopWhen) {
    if (a.Motion.empty()) throw UserError("record needs --to FILE.lpd");
    // The recording is renamed over its target when complete: never over a
    // device, a folder or anything else that is not a plain file.
    if (std::error_code ec; fs::exists(a.Motion, ec) && !fs::is_regular_file(a.Motion, ec))
        throw UserError("cannot record to " + a.Motion + ": it exists and is not a regular file");
    RangeWithin(flow, a.Frames);
    const int64_t flowFirst = flow.First, flowLast = flow.Last;
    SessionOptions options = OptionsFrom(a);
    options.StopWhen = stopWhen;
    Session session(std::move(flow), options);
    const ControlCatalog& names = session.Catalog();
    const ControlInfo& start = names.Require("RecordStartFrame");
    const ControlInfo& last = names.Require("RecordLastFrame");
    // The recording range: --frames, else the flow's own range controls, else the flow's frames.
    bool flowSetsRange = false;
    for (const ControlTrack& t : session.Controls().Tracks())
        if (t.Info == &start || t.Info == &last) flowSetsRange = true;
    int64_t first = flowFirst, final = flowLast;
    const double t0 = double(flowFirst);
    if (!a.Frames.empty()) {
        std::tie(first, final) = ParseFrameRange(a.Frames);
    } else if (flowSetsRange) {
        Parameter* p = start.In->GetValue(t0);
        Parameter* q = last.In->GetValue(t0);
        first = int64_t(static_cast<Number*>(p)->Value);
        final = int64_t(static_cast<Number*>(q)->Value);
        p->Recycle();
        q->Recycle();
        if (final < first) throw UserError("the flow's recording range ends before it starts");
    }
    if (first < flowFirst || final > flowLast)
        throw UserError("the recording range " + std::to_string(first) + "-" + std::to_string(final) +
                        " lies outside the flow's frames");
    session.CheckInputs(std::min(first, flowFirst), final);
    ApplyThreads(a.Threads);
    session.Controls().Set(start, double(first), t0);
    session.Controls().Set(last, double(final), t0);
    session.Prime();

    // The tool writes into a temporary file created here (exclusively, under an
    // unpredictable name); the file appears under its own name only when the
    // recording is complete and on disk.
    OutputFile recording(a.Motion);
    recording.Close();
    platform::Default().ClearRecords();
    session.Controls().Press(names.Require("SaveFile"), t0, recording.TemporaryName());
    session.Controls().Press(names.Require("RecordNow"), t0);
    if (auto w = FirstWarning()) throw UserError("recording did not start (" + *w + ")");
    HeldToolMessages held;
    if (session.ServeRequests("record") == 0) throw UserError("recording did not start (the tool posted no pass)");
    if (auto w = FirstWarning()) throw UserError("recording failed (" + *w + ")");
    if (!SawMessage(platform::MessageKind::RecordingWritten)) throw UserError("recording did not complete");
    // The tool writes the frames its render reaches within its recording range;
    // a range changed during the pass (a keyframed last frame) leaves the rest of
    // the frame table empty. Such a file is not what was asked for.
    const MotionExtent made = ReadMotionExtent(recording.TemporaryName(), a.Motion);
    const int64_t asked = final - first + 1;
    if (made.FrameCount != asked || !made.Complete())
        throw UserError("the recording holds " + std::to_string(made.WholeFrames) + " of the " + std::to_string(asked) +
                        " frames asked for (" + std::to_string(first) + "-" + std::to_string(final) + "); " +
                        a.Motion + " was not written");
    // The tool's confirmation is printed only once the file is on disk under its name.
    recording.Commit();
    held.Print(true);
    if (!a.Quiet) std::printf("recorded frames %lld-%lld to %s\n", (long long)first, (long long)final, a.Motion.c_str());
    return 0;
}

int CommandPlay(const RenderArgs& a) { return PlayFlow(LoadFlowFile(a.Flow), a, {}); }

int PlayFlow(FlowFile flow, const RenderArgs& a, const FrameSink& sink) {
    if (a.Motion.empty()) throw UserError("play needs --motion FILE.lpd");
    // The direction is known once the flow's controls are in place; both default
    // names are checked before any work.
    if (sink.Write) {
        FramesWithin(flow, a.Frames);
    } else if (a.Output.empty()) {
        OutputPattern(PlayOutput(flow.Output, false), FramesWithin(flow, a.Frames));
        OutputPattern(PlayOutput(flow.Output, true), FramesWithin(flow, a.Frames));
    } else {
        OutputPattern(a.Output, FramesWithin(flow, a.Frames));
    }
    const std::string flowOutput = flow.Output;
    // Refuse what the tool's loader refuses, with the reason, before the tool reads it.
    const MotionExtent extent = CheckPlayableMotionFile(a.Motion);
    SessionOptions options = OptionsFrom(a);
    options.StopWhen = sink.StopWhen;
    Session session(std::move(flow), options);
    const double t0 = double(session.File().First);
    const ControlCatalog& names = session.Catalog();
    auto valueAt = [&](const char* name) {
        Parameter* p = names.Require(name).In->GetValue(t0);
        const double v = p && p->DataType == DT_Number ? static_cast<Number*>(p)->Value : 0.0;
        if (p) p->Recycle();
        return v;
    };
    // The tool takes the range's whole parts (0 for a value that is not a number).
    auto wholeFrame = [](double v) { return v == v ? int32_t(std::clamp(v, -2147483648.0, 2147483647.0)) : 0; };
    // The playback range: the flow's LoadStartFrame/LoadLastFrame, or, when it sets
    // neither, the recording's own frames. A motion-data file does not say which
    // frames it was recorded over: its frames are taken to start at the flow's first.
    const ControlInfo& loadStart = names.Require("LoadStartFrame");
    const ControlInfo& loadLast = names.Require("LoadLastFrame");
    bool flowSetsRange = false;
    for (const ControlTrack& t : session.Controls().Tracks())
        if (t.Info == &loadStart || t.Info == &loadLast) flowSetsRange = true;
    if (!flowSetsRange) {
        session.Controls().Set(loadStart, t0, t0);
        session.Controls().Set(loadLast, t0 + double(extent.FrameCount - 1), t0);
    }
    PlaybackRange range;
    range.Start = wholeFrame(valueAt("LoadStartFrame"));
    range.Last = wholeFrame(valueAt("LoadLastFrame"));
    if (int64_t(range.Last) - int64_t(range.Start) <= 0)
        throw UserError("the flow's playback range (LoadStartFrame-LoadLastFrame) is empty");
    platform::Default().ClearRecords();
    session.Controls().Press(names.Require("LoadSystem"), t0, a.Motion);
    if (auto w = FirstWarning()) throw UserError("cannot load " + a.Motion + " (" + *w + ")");
    if (a.Reverse) session.Controls().Set(names.Require("Reverse"), 1.0, t0);
    range.Reverse = valueAt("Reverse") > 0.5;
    // A recording that ends before the frames asked for plays as the tool plays it
    // (up to its end, then no recorded particles), with one warning line; with
    // --complete it is refused before anything is rendered.
    const FrameList frames = FramesWithin(session.File(), a.Frames);
    if (const auto past = FirstFramePastEnd(extent, frames.Frames(), range)) {
        const std::string text = EndsEarlyText(a.Motion, extent, *past);
        if (a.Complete) throw UserError(text);
        std::fprintf(stderr, "lumets: warning: %s\n", text.c_str());
    }
    // Playback rebuilds each frame from the recording: the frames before the first
    // one asked for need not run, whatever --no-warmup says.
    RenderArgs listed = a;
    listed.NoWarmup = true;
    if (sink.Write) {
        session.CheckInputs(frames.First(), frames.Last());
        ApplyThreads(a.Threads);
        session.Render(frames, false, a.Quick ? Request::FlagQuick : 0, sink.Write, "frame");
        return 0;
    }
    RenderFrames(session, listed, a.Output.empty() ? PlayOutput(flowOutput, range.Reverse) : a.Output, "frame");
    return 0;
}

int CommandCapture(const RenderArgs& a) {
    FlowFile flow = LoadFlowFile(a.Flow);
    if (a.Save.empty()) throw UserError("capture needs --save OUT.json");
    if (a.Frames.empty()) throw UserError("capture needs --frames A-B (the shape range)");
    const auto [from, to] = RangeWithin(flow, a.Frames);
    Json raw = flow.Raw;
    const std::string folder = flow.Folder;
    const std::string original = flow.Output;
    Session session(std::move(flow), OptionsFrom(a));
    const double t0 = double(session.File().First);
    const ControlCatalog& names = session.Catalog();
    session.CheckInputs(std::min(from, session.File().First), to);
    session.Controls().Set(names.Require("ImageStartFrame"), double(from), t0);
    session.Controls().Set(names.Require("ImageLastFrame"), double(to), t0);
    session.Prime();
    platform::Default().ClearRecords();
    session.Controls().Press(names.Require("PreloadShapes"), t0);
    if (session.ServeRequests("capture") == 0) throw UserError("the capture did not start");
    if (SawMessage(platform::MessageKind::CaptureIncomplete)) throw UserError("the capture did not complete");
    // The tool enables its delete button while it holds captured shapes; a
    // press of it during the pass (a flow event) has thrown the capture away.
    if (names.Require("DeletePreloaded").In->GetAttrs().GetLong(Tags::Disabled, 0) != 0)
        throw UserError("the capture was deleted before it was saved (DeletePreloaded pressed during the pass)");

    CArchive archive;
    TagList tags;
    if (!session.Tool()->Save(&archive, &tags)) throw UserError("the tool could not save its data");
    raw["operatorData"] = EncodeBase64(archive.Buffer());
    const std::string saveFolder = fs::path(a.Save).parent_path().string();
    RebaseFlowPaths(raw, folder, saveFolder);
    // The captured flow renders other pictures than the original: its output is
    // named after the saved flow, next to it, and never the original's frames.
    if (raw.contains("output") && raw["output"].is_string() && !original.empty()) {
        // A '#' or '%' in the saved flow's name would read as another frame field.
        std::string stem = fs::path(a.Save).stem().string();
        std::replace_if(stem.begin(), stem.end(), [](char c) { return c == '#' || c == '%'; }, '_');
        auto place = [&](const std::string& name) { return RenamedOutput(fs::path(original).filename().string(), name); };
        auto where = [&](const std::string& rel) {
            return fs::absolute(fs::path(saveFolder.empty() ? "." : saveFolder) / rel).lexically_normal();
        };
        std::string output = place(stem);
        if (where(output) == fs::absolute(original).lexically_normal()) output = place(stem + ".captured");
        raw["output"] = output;
    }
    WriteFileAtomically(a.Save, raw.dump(2) + "\n");
    if (!a.Quiet)
        std::printf("captured %lld shape%s (frames %lld-%lld) into %s\n", (long long)(to - from + 1),
                    to > from ? "s" : "", (long long)from, (long long)to, a.Save.c_str());
    return 0;
}

int CommandInspect(const RenderArgs& a) {
    const MotionFile file = ReadMotionFile(a.Motion);
    std::cout << (a.Json ? MotionFileJson(file) : MotionFileText(file, a.Motion));
    return 0;
}

int CommandControls(const RenderArgs& a) {
    std::cout << (a.Json ? ControlsJson() : ControlsText());
    return 0;
}

// "unknown command" with the nearest command names (by edit distance), or all of
// them when none is near. The word is shown with its control characters replaced.

}  // namespace lumets
