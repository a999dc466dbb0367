#pragma once
#include <string>

namespace lumets {

// A file name with an optional frame-number field: a run of '#' (the frame number
// zero-padded to the run's length) or a printf-style %d / %0Nd. A name without a
// field names one file for every frame.
class FramePattern {
public:
    FramePattern() = default;
    // Throws UserError for a pattern with two fields, both kinds, or another
    // printf conversion.
    explicit FramePattern(std::string pattern);

    bool HasField() const { return Width >= 0; }
    // The file name of a frame (negative frames get a leading '-').
    std::string At(int64_t frame) const;
    const std::string& Text() const { return Pattern; }

private:
    std::string Pattern;
    std::string Prefix, Suffix;
    int Width = -1;  // -1: no field; 0: %d (no padding)
};

}  // namespace lumets
