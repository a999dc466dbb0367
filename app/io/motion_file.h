#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumets {

// A motion-data file (.lpd) as read for inspection: int32 frame count N, N frame
// entries of 20 bytes (double lifetime, int32 retired, int32 live, uint32 offset),
// then blocks of 40-byte records (x, y, angle, age, size as doubles).
struct MotionEntry {
    double Lifetime = 0.0;
    int32_t Retired = 0;
    int32_t Live = 0;
    uint32_t Offset = 0;
    std::vector<std::array<double, 5>> Records;
};

struct MotionFile {
    int32_t FrameCount = 0;
    std::vector<MotionEntry> Entries;
};

// Reads and checks a motion-data file. Throws UserError (one line, naming the
// problem) for anything but a regular file, a missing or short file, a negative or
// too large frame count, an entry with negative counts, or records that would lie
// outside the file; a file of another kind (an image, a flow) is named as such.
MotionFile ReadMotionFile(const std::string& path);
// The same checks as ReadMotionFile on bytes in memory (name is used in messages).
MotionFile ParseMotionFile(const std::vector<uint8_t>& bytes, const std::string& name);
MotionFile ParseMotionFile(const uint8_t* data, size_t size, const std::string& name);

// What a file of another kind is ("a PNG image", "a flow file (JSON)"), judged
// from its first bytes; nothing when they say nothing known.
std::optional<std::string> ForeignFileKind(const uint8_t* data, size_t size);

// How much of a motion-data file a playback can use. A recording writes the
// frame count first, then each frame's table entry and its records as the frame
// is rendered, so a recording that was cut off (or stopped) holds whole frames
// from its first on, up to a point: after it the entries were never written
// (all zero) or their records lie beyond the end of the file.
struct MotionExtent {
    int32_t FrameCount = 0;   // entries in the frame table
    int32_t WholeFrames = 0;  // entries 0.. written in full, records included
    bool Complete() const { return WholeFrames == FrameCount; }
};

// Opens a regular file of at most 4 GiB without blocking, checks its frame count
// and that its frame table lies within it, and counts its whole frames (only the
// table is read). `name` is used in messages. Throws UserError.
MotionExtent ReadMotionExtent(const std::string& path, const std::string& name);
// The checks the tool's loader makes before playing a file: the above, and at
// least two frame entries. Frame data is not refused: the tool shows what the
// file holds and ends the playback where the records of a cut-off recording run
// out. Throws UserError otherwise.
MotionExtent CheckPlayableMotionFile(const std::string& path);

// The playback range as the tool takes it from its controls.
struct PlaybackRange {
    int32_t Start = 0;  // LoadStartFrame
    int32_t Last = 0;   // LoadLastFrame
    bool Reverse = false;
};
// The first of `frames` (in order) whose picture the tool rebuilds from a
// recorded frame the file does not hold in full: the time maps onto the recorded
// frames over the playback range, and each frame inside the range is rebuilt from
// its two nearest recorded frames. Nothing when every frame is covered.
std::optional<int64_t> FirstFramePastEnd(const MotionExtent& extent, const std::vector<int64_t>& frames,
                                         const PlaybackRange& range);
// One line saying where a recording ends and from which frame a playback runs past it.
std::string EndsEarlyText(const std::string& name, const MotionExtent& extent, int64_t firstPast);

// Text listing and the JSON form of `lumets inspect`.
std::string MotionFileText(const MotionFile& file, const std::string& name);
std::string MotionFileJson(const MotionFile& file);

}  // namespace lumets
