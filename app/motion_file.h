#pragma once
#include <array>
#include <cstdint>
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
// problem) for a missing or short file, a negative or too large frame count, an
// entry with negative counts, or records that would lie outside the file.
MotionFile ReadMotionFile(const std::string& path);
// The checks the tool's loader makes before playing a file: it opens, is at most
// 4 GiB, holds at least two frame entries and its frame table lies within it.
// Frame data is not checked: the tool shows what the file holds and ends the
// playback where the records of a cut-off recording run out. Returns the frame
// count; throws UserError otherwise.
int32_t CheckPlayableMotionFile(const std::string& path);
// The same checks as ReadMotionFile on bytes in memory (name is used in messages).
MotionFile ParseMotionFile(const std::vector<uint8_t>& bytes, const std::string& name);

// Text listing and the JSON form of `lumets inspect`.
std::string MotionFileText(const MotionFile& file, const std::string& name);
std::string MotionFileJson(const MotionFile& file);

}  // namespace lumets
