#pragma once
// One instance of the lumets frei0r filter: a host of the particle tool inside a
// video program (ffmpeg, MLT, GStreamer). The frame that comes in is the
// background, the tool draws its particles over it, the frame goes out.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/session/flow_loader.h"

class Image;
class SimulationState;
namespace lumets {
class Session;
}

namespace lumets::frei0r {

// The filter's parameters, in the order hosts list them (ffmpeg's filter_params
// are positional).
enum class ParamKind { Text, Number };
struct ParamSpec {
    const char* Name;         // as hosts show it and as melt and GStreamer address it
    ParamKind Kind;
    const char* Explanation;  // the description hosts show
    const char* Control;      // the tool's control it drives (flow key), null for the others
    // For a point control, the coordinate this parameter gives (0 x, 1 y); -1 for
    // a number control, whose range 0..1 spans.
    int Coordinate = -1;
};
extern const std::vector<ParamSpec> Params;
enum ParamIndex { ParamFlow = 0, ParamFps = 1, ParamSeed = 2 };

// A parameter's value: text or a number (0..1 for hosts).
struct ParamValue {
    std::string Text;
    double Number = 0;
    bool operator==(const ParamValue&) const = default;
};

// The host's time unit: frei0r hands seconds, ffmpeg's frei0r filter milliseconds.
enum class TimeUnit { Seconds, Milliseconds };

// Each instance has a lock of its own: one instance's long work (a seek far
// into a flow) never holds up another. Only what the whole process shares (the
// plug-in class, the messages printed once) is behind a process-wide lock.
class Filter {
public:
    // Simulation states are kept every StateInterval() frames, so that a seek
    // back, or to a frame seen before, costs at most that many frame requests.
    // At most MaxStates are kept (a state holds the live particles: about
    // 2 MB at a full pool of 20000); when a far seek needs more, the interval
    // doubles and every other state goes.
    static constexpr int64_t FirstStateInterval = 25;
    static constexpr size_t MaxStates = 32;

    Filter(unsigned width, unsigned height);
    ~Filter();
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    // Out-of-range indexes are ignored; values are copied.
    void Set(int index, const ParamValue& value);
    const ParamValue& Get(int index) const { return Values.at(size_t(index)); }

    // One frame: in and out hold width x height RGBA pixels (they may be the same
    // buffer). Never throws: a failure passes the frame through unchanged and is
    // reported once on standard error. `consecutive` tells that the host hands
    // every frame once and in order (ffmpeg), so that its time must grow from
    // one update to the next. A time that is no plausible frame time (negative,
    // not finite, or not growing where frames are consecutive) is replaced by
    // the frame after the one the last update drew (the first update: frame 0),
    // and that the host gave no usable time is said once on standard error.
    void Update(double time, TimeUnit unit, const uint32_t* in, uint32_t* out, bool consecutive = false);

    // The frame requests (simulated or drawn) this instance's tools have made so
    // far; readable while an update runs on another thread.
    uint64_t FrameRequests() const { return Requests.load(); }
    int64_t StateInterval() const;

private:
    struct Setup;  // what the parameters ask for, resolved
    Setup Resolve() const;
    void Draw(const Setup& setup, int64_t frame, const uint32_t* in, uint32_t* out);
    void MakeTool(const Setup& setup);
    void SeekTo(const Setup& setup, int64_t frame, Image* background);
    void Step(int64_t frame);
    void KeepState(int64_t frame);
    void Report(const std::string& message);
    int64_t HostOffset(double time, TimeUnit unit, bool consecutive, double fps);

    mutable std::mutex Lock;  // this instance's own work
    std::atomic<uint64_t> Requests{0};

    const unsigned Width, Height;
    std::vector<ParamValue> Values;
    // The loaded flow and the tool running it.
    std::optional<FlowFile> Flow;
    std::string FlowKey;  // the parameters the flow and tool were made with
    std::unique_ptr<Session> Tool;
    std::vector<std::pair<std::string, std::string>> ToolSets;   // overrides the tool runs with now
    std::vector<std::pair<std::string, std::string>> MadeSets;   // and those it was made with
    bool Edited = false;  // overrides changed while it ran: its history is no plain run
    int64_t LastFrame = 0;  // the last frame the tool ran (the flow's first - 1 when new)
    // States after frames First - 1 + k * Interval (k >= 0), of a plain run with
    // MadeSets; none when the flow's events press buttons that load, record or
    // capture, which the states do not cover.
    std::map<int64_t, std::unique_ptr<SimulationState>> States;
    int64_t Interval = FirstStateInterval;
    bool StatesUsable = false;
    bool Failed = false;  // pass frames through until the flow, fps or seed change
    std::set<std::string> Reported;
    // The host's last time and the frame (counted from the flow's first) it
    // was taken as: the count goes on from there when a time is unusable.
    std::optional<double> LastTime;
    std::optional<int64_t> LastOffset;
};

}  // namespace lumets::frei0r
