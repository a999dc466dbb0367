#pragma once
// The motion-data file ("Lumet Position Data", .lpd): an int32 frame count N at
// offset 0, a table of N 20-byte frame entries from offset 4, then the particle
// blocks (40-byte records), one per recorded frame in render order. Everything is
// little-endian.
#include <bit>
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
// Offsets are unsigned 32-bit: nothing may be written at or beyond this.
constexpr uint64_t OffsetLimit = uint64_t(1) << 32;

// One frame-table entry as stored.
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

inline FrameEntry DecodeEntry(const unsigned char* p) {
    FrameEntry e;
    std::memcpy(&e.Lifetime, p, 8);
    std::memcpy(&e.Retired, p + 8, 4);
    std::memcpy(&e.Live, p + 12, 4);
    std::memcpy(&e.DataOffset, p + 16, 4);
    return e;
}

inline Record DecodeRecord(const unsigned char* p) {
    Record r;
    std::memcpy(&r, p, RecordSize);
    return r;
}

}  // namespace motion_file
