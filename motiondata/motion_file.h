#pragma once
// The motion-data file ("Lumet Position Data", .lpd): an int32 frame count N at
// offset 0, a table of N 20-byte frame entries from offset 4, then the particle
// blocks (40-byte records), one per recorded frame in render order. Everything is
// little-endian. This header is the one description of that layout: the tool's
// recorder and player, the command-line host's inspection, the tests and the
// fuzzers all read and write the file through it.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "motion-data files are little-endian and written from memory as is");

namespace motion_file {

constexpr uint32_t CountSize = 4;
constexpr uint32_t EntrySize = 20;
constexpr uint32_t RecordSize = 40;
// The pool holds at most this many live particles, so no frame can list more.
constexpr int32_t MaxLiveCount = 19999;
// Offsets are unsigned 32-bit: nothing may be written at or beyond this, and no
// file is larger.
constexpr uint64_t OffsetLimit = uint64_t(1) << 32;

// One frame-table entry as stored: the lifetime in force, the particles that
// retired in the frame's ageing, the particles live after it and where their
// block of records begins.
struct FrameEntry {
    double Lifetime = 0.0;
    int32_t Retired = 0;
    int32_t Live = 0;
    uint32_t DataOffset = 0;
};

// One particle record as stored: position, angle, age, size.
struct Record {
    double X = 0.0, Y = 0.0, Angle = 0.0, Age = 0.0, Size = 0.0;
};
static_assert(sizeof(Record) == RecordSize);

// Where the particle data of a file with n frame entries begins.
constexpr uint64_t DataStart(int64_t n) { return CountSize + EntrySize * uint64_t(n); }
// File offset of frame entry k.
constexpr uint64_t EntryOffset(int64_t k) { return CountSize + EntrySize * uint64_t(k); }
// Where a block of `live` records starting at `offset` ends.
constexpr uint64_t BlockEnd(uint64_t offset, int64_t live) {
    return offset + uint64_t(RecordSize) * uint64_t(live < 0 ? 0 : live);
}

inline void EncodeEntry(const FrameEntry& e, unsigned char* p) {
    std::memcpy(p, &e.Lifetime, 8);
    std::memcpy(p + 8, &e.Retired, 4);
    std::memcpy(p + 12, &e.Live, 4);
    std::memcpy(p + 16, &e.DataOffset, 4);
}

inline FrameEntry DecodeEntry(const unsigned char* p) {
    FrameEntry e;
    std::memcpy(&e.Lifetime, p, 8);
    std::memcpy(&e.Retired, p + 8, 4);
    std::memcpy(&e.Live, p + 12, 4);
    std::memcpy(&e.DataOffset, p + 16, 4);
    return e;
}

inline void EncodeRecord(const Record& r, unsigned char* p) { std::memcpy(p, &r, RecordSize); }

inline Record DecodeRecord(const unsigned char* p) {
    Record r;
    std::memcpy(&r, p, RecordSize);
    return r;
}

inline bool Finite(const Record& r) {
    return std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Angle) && std::isfinite(r.Age) &&
           std::isfinite(r.Size);
}

// --- damaged and unplayable files ---

// A frame count whose table lies within the 32-bit offsets. A negative count is damage.
constexpr bool CountInRange(int64_t count) { return count >= 0 && DataStart(count) < OffsetLimit; }

// A file the player takes: its count is in range and gives at least two frames to
// interpolate between.
constexpr bool Playable(int64_t count) { return count >= 2 && CountInRange(count); }

// A block offset of a file with `count` entries that lies in the data region on the
// record grid. An entry never written is all zero, so its offset points into the
// table and fails this.
constexpr bool BlockOffsetValid(uint64_t offset, int64_t count) {
    const uint64_t start = DataStart(count);
    return offset >= start && (offset - start) % RecordSize == 0;
}

// A live count the pool could have held.
constexpr bool LiveCountValid(int64_t live) { return live >= 0 && live <= MaxLiveCount; }

// An entry of a `count`-entry file of `fileSize` bytes that was written in full,
// its records included: the frames a cut-off recording holds whole.
constexpr bool EntryWhole(const FrameEntry& e, int64_t count, uint64_t fileSize) {
    return BlockOffsetValid(e.DataOffset, count) && LiveCountValid(e.Live) &&
           BlockEnd(e.DataOffset, e.Live) <= fileSize;
}

// Where playback stands at `time` over the playback range start..last (mirrored when
// reversed) in a file of `count` frames: recorded frame k = int(position) and the
// next are mixed by the fraction. Only for times inside a range of more than one frame.
inline double PlaybackPosition(double time, int32_t start, int32_t last, bool reversed, int32_t count) {
    const int32_t span = last - start;
    double s = (time - start) / span;
    if (reversed) s = 1.0 - (time - start) / span;
    return s * (count - 1.01);
}

}  // namespace motion_file
