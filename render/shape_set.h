#pragma once
#include <cstdint>
#include <vector>

// A particle shape in memory: Width x Height pixels, row after row from row 0,
// four 16-bit values per pixel in the order red, green, blue, alpha.
struct ShapeBuffer {
    int32_t Width = 0, Height = 0;
    std::vector<uint16_t> Pixels;  // Width * Height * 4
};

// One level of a shape set: the shape, its size pair and the scale pair (pixel
// aspect x and y of the image it was captured from).
struct ShapeLevel {
    int32_t Width = 0, Height = 0;
    float ScaleX = 1.0f, ScaleY = 1.0f;
    std::vector<uint16_t> Pixels;  // Width * Height * 4, RGBA
};

// A set of shapes over one shared count. During a capture the levels are
// allocated up front and filled one by one.
struct ShapeSet {
    std::vector<ShapeLevel> Levels;
    int32_t Count() const { return int32_t(Levels.size()); }
    void Clear() { Levels.clear(); Levels.shrink_to_fit(); }
};
