#include "render/resample.h"

#include <cmath>
#include <cstddef>

#include "render/resample_core.h"

namespace {

// Degrees to radians as the resampler has always turned them: the float nearest
// 0.017453296, two units in the last place above the float nearest pi/180.
constexpr float ResampleDegreesToRadians = 0.017453296f;

}  // namespace

ResampleSetup MakeResampleSetup(int32_t sw, int32_t sh, float angle, float fx, float fy, int32_t dw, int32_t dh,
                                float ay, float ax) {
    ResampleSetup rs;
    const float kx = float(sw) / float(dw);
    const float ky = float(sh) / float(dh);
    const float theta = -(angle * ResampleDegreesToRadians);
    rs.C = std::cos(theta);
    rs.S = std::sin(theta);
    rs.Cdx = float(dw - 1) * 0.5f;
    rs.Cdy = float(dh - 1) * 0.5f;
    rs.Csx = float(sw - 1) * 0.5f;
    rs.Csy = float(sh - 1) * 0.5f;
    rs.Kxa = kx / ax;
    rs.Kya = ky / ay;
    rs.Fx = fx;
    rs.Fy = fy;
    rs.Ax = ax;
    rs.Ay = ay;
    rs.Width = float(sw);
    rs.Height = float(sh);
    return rs;
}

void ResampleShapeRegion(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy, int32_t dw,
                         int32_t dh, unsigned q, float ay, float ax, int32_t r0, int32_t r1, int32_t c0, int32_t c1,
                         uint16_t* out) {
    if (dw <= 0 || dh <= 0 || r1 <= r0 || c1 <= c0) return;
    const ResampleSetup rs = MakeResampleSetup(sw, sh, angle, fx, fy, dw, dh, ay, ax);
    const SourceView view = ViewOf(src, sw, sh);
    const std::size_t rowWords = std::size_t(c1 - c0) * 4;
    for (int32_t j = r0; j < r1; ++j, out += rowWords) ResampleRowPlain(view, rs, j, c0, c1, q, out);
}

std::vector<uint16_t> ResampleShape(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy,
                                    int32_t dw, int32_t dh, unsigned q, float ay, float ax) {
    if (dw <= 0 || dh <= 0) return {};
    std::vector<uint16_t> out(std::size_t(dw) * std::size_t(dh) * 4);
    ResampleShapeRegion(src, sw, sh, angle, fx, fy, dw, dh, q, ay, ax, 0, dh, 0, dw, out.data());
    return out;
}

void TintShape(uint16_t* buffer, int32_t width, int32_t height, uint32_t red, uint32_t green, uint32_t blue,
               uint32_t weight) {
    if (width <= 0 || height <= 0) return;
    const uint32_t keep = 65535u - weight;
    const uint32_t addR = (red * weight) >> 16, addG = (green * weight) >> 16, addB = (blue * weight) >> 16;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    for (std::size_t p = 0; p < n; ++p) {
        uint16_t* px = buffer + p * 4;
        px[0] = uint16_t(((px[0] * keep) >> 16) + addR);
        px[1] = uint16_t(((px[1] * keep) >> 16) + addG);
        px[2] = uint16_t(((px[2] * keep) >> 16) + addB);
    }
}
