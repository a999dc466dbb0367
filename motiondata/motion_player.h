#pragma once
// Playing back a motion-data file: the file held, its frame count, and the
// particles of a requested time rebuilt from the two nearest recorded frames.
#include <cstdint>
#include <optional>
#include <string>

#include "host/platform.h"
#include "simulation/particle.h"

// The pool slots a frame is rebuilt into: particles go in at slot *Next, which
// then moves on round the ring, and each adds one to *Live.
struct PoolSlots {
    Particle* Slots = nullptr;
    int32_t Size = 0;
    int32_t* Next = nullptr;
    int32_t* Live = nullptr;
    // When set, each particle's state one request frame earlier goes in at the
    // same slot (for motion blur).
    ParticleBefore* Before = nullptr;
};

// The playback range as the controls give it.
struct PlaybackRange {
    int32_t Start = 0, Last = 0;
    bool Reversed = false;
};

class MotionPlayer {
public:
    // What became of a requested frame.
    enum class Outcome {
        Empty,  // nothing to show: outside the range, no file, or a damaged frame
        Shown,  // the frame's particles are in the pool
        Ended,  // the following recorded frame runs past the end of the file: playback ends
    };
    struct Frame {
        Outcome Result = Outcome::Empty;
        std::optional<double> Lifetime;  // the recorded lifetime, once the frame's entries check out
    };

    MotionPlayer() = default;
    ~MotionPlayer() { Close(); }
    MotionPlayer(const MotionPlayer&) = delete;
    MotionPlayer& operator=(const MotionPlayer&) = delete;

    // Opens a file and checks its frame count. A file that cannot be opened, cannot
    // be interpolated (fewer than two frame entries) or whose count is damaged is
    // refused (false) and the file held before stays.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return File != platform::NoFile; }
    int32_t FrameCount() const { return Frames; }
    // Where the last requested frame stood between the recorded frames.
    double Position() const { return Pos; }

    // Rebuilds the live particles for `time` into an empty pool. The time maps
    // linearly onto the recorded frames over the range; the pool gets the particles
    // that live in both neighbouring frames, interpolated between them (with
    // pool.Before, also where each stood one request frame earlier, along the
    // same two records). A frame
    // whose data is missing or damaged adds nothing.
    Frame ReadFrame(double time, const PlaybackRange& range, const PoolSlots& pool);

private:
    platform::FileHandle File = platform::NoFile;
    int32_t Frames = 0;
    double Pos = 0.0;
};
