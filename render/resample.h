#pragma once
#include <cstdint>
#include <vector>

// Resamples an RGBA 16-bit shape of sw x sh pixels into a new dw x dh buffer:
// turned by angle degrees about the two centres, stretched over the destination,
// corrected for the output's pixel aspects ax, ay and moved by the sub-pixel
// offsets fx, fy. q = 0 samples the nearest pixel, any other value a 4 x 4 cubic
// B-spline.
std::vector<uint16_t> ResampleShape(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy,
                                    int32_t dw, int32_t dh, unsigned q, float ay, float ax);

// Mixes every pixel's red, green and blue towards (red, green, blue) by weight
// (0 to 65535); alpha stays.
void TintShape(uint16_t* buffer, int32_t width, int32_t height, uint32_t red, uint32_t green, uint32_t blue,
               uint32_t weight);
