#pragma once
// Recording the particle system into a motion-data file: after every simulation
// step of a frame in the recording range, one whole frame-table entry and the
// frame's block of records.
#include <cstdint>
#include <string>
#include <vector>

#include "host/platform.h"
#include "simulation/particle.h"

// The live particles in the pool's ring of slots, oldest first.
struct LiveRing {
    const Particle* Slots = nullptr;
    int32_t Size = 0;    // slots in the ring
    int32_t Oldest = 0;  // slot of the oldest particle
    int32_t Count = 0;   // live particles
};

// What a frame's simulation step hands the recorder.
struct RecordedFrame {
    double Time = 0.0;                           // the request time; its whole part picks the entry
    int32_t RangeStart = 0, RangeLast = 0;       // the recording range in force
    double Lifetime = 0.0;                       // the lifetime in force
    int32_t Retired = 0;                         // particles the frame's ageing retired
    LiveRing Live;                               // the particles after the step
};

class MotionRecorder {
public:
    // Why a recording stopped writing before its end.
    enum Failure : int32_t { NoFailure = 0, WriteFailed = 1, LimitReached = 2 };

    MotionRecorder() = default;
    ~MotionRecorder() { Close(); }
    MotionRecorder(const MotionRecorder&) = delete;
    MotionRecorder& operator=(const MotionRecorder&) = delete;

    // Creates (or replaces) the file for a recording of `frames` frames and writes
    // its frame count. False when the file cannot be created; a failed count write
    // leaves the file open and the recording failed.
    bool Create(const std::string& path, int32_t frames);
    // Writes the frame's entry and then its block of records after the blocks
    // written so far. A frame outside the range or beyond the table writes nothing;
    // so does every frame after a failure. A block that would reach the end of the
    // 32-bit offsets fails the recording (LimitReached) with nothing of its frame
    // written; a write that fails or comes up short fails it (WriteFailed). The
    // frames written so far stay.
    void Record(const RecordedFrame& frame);
    // Closes the file; the failure state stays until the next Create.
    void Close();

    bool IsOpen() const { return File != platform::NoFile; }
    Failure Failed() const { return State; }
    int32_t FrameCount() const { return Frames; }
    // Where the next frame's block goes.
    uint32_t NextDataOffset() const { return NextData; }

private:
    platform::FileHandle File = platform::NoFile;
    int32_t Frames = 0;
    uint32_t NextData = 0;
    Failure State = NoFailure;
    std::vector<unsigned char> Block;  // the frame's records, kept from frame to frame
};
