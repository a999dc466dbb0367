#pragma once
#include <cstdint>
#include <vector>

// Resamples an RGBA 16-bit shape of sw x sh pixels into a new dw x dh buffer:
// turned by angle degrees about the two centres, stretched over the destination,
// corrected for the output's pixel aspects ax, ay and moved by the sub-pixel
// offsets fx, fy. q = 0 samples the nearest pixel, any other value a 4 x 4 cubic
// B-spline. A destination with no pixels gives an empty buffer.
std::vector<uint16_t> ResampleShape(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy,
                                    int32_t dw, int32_t dh, unsigned q, float ay, float ax);

// The same mapping, computed only for destination rows r0 <= r < r1 and columns
// c0 <= c < c1 of the dw x dh picture, written row after row into out
// ((r1 - r0) x (c1 - c0) pixels). Every pixel depends only on its own position,
// so a region equals the same pixels of the whole picture.
void ResampleShapeRegion(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy, int32_t dw,
                         int32_t dh, unsigned q, float ay, float ax, int32_t r0, int32_t r1, int32_t c0, int32_t c1,
                         uint16_t* out);

// Mixes every pixel's red, green and blue towards (red, green, blue) by weight
// (0 to 65535); alpha stays.
void TintShape(uint16_t* buffer, int32_t width, int32_t height, uint32_t red, uint32_t green, uint32_t blue,
               uint32_t weight);
