#pragma once
#include <cstdint>
#include <vector>

// The tool's tile bitmap: an uncompressed 116 x 87 bitmap file, 24 bits per pixel.
const std::vector<uint8_t>& TileBitmap();
