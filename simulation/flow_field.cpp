#include "simulation/flow_field.h"

#include <cmath>

namespace {

// Sixteen unit gradients, every 22.5 degrees (written out, so no library sine
// or cosine can differ between processors).
constexpr double C1 = 0.9238795325112867, S1 = 0.3826834323650898, H = 0.7071067811865476;
constexpr double GradX[16] = {1, C1, H, S1, 0, -S1, -H, -C1, -1, -C1, -H, -S1, 0, S1, H, C1};
constexpr double GradY[16] = {0, S1, H, C1, 1, C1, H, S1, 0, -S1, -H, -C1, -1, -C1, -H, -S1};

// A 32-bit integer hash with good avalanche (two multiply-xorshift rounds).
inline uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

// The quintic fade 6f^5 - 15f^4 + 10f^3 and its derivative: smooth to the
// second derivative across lattice lines, so the flow has no creases.
inline double Fade(double f) { return f * f * f * (f * (f * 6.0 - 15.0) + 10.0); }
inline double FadeSlope(double f) { return 30.0 * f * f * (f * (f - 2.0) + 1.0); }

// Beyond this many lattice cells (or periods of time) from the origin a double
// no longer resolves the place within a cell well; the field is zero there.
constexpr double Far = 1e9;

}  // namespace

FlowField::FlowField(uint32_t toolSeed) : Hashed(Mix(toolSeed ^ 0x5EED7A1Bu)) {}

void FlowField::Slice(double qx, double qy, int64_t ix, int64_t iy, int64_t k, double* dx, double* dy) const {
    // Each corner's gradient: one full hash of the seed plus the corner's
    // coordinates, each spread by its own odd multiplier.
    constexpr uint32_t StepX = 0x85EBCA77u, StepY = 0xC2B2AE3Du, StepT = 0x9E3779B1u;
    const uint32_t h0 = Hashed + uint32_t(k) * StepT + uint32_t(ix) * StepX + uint32_t(iy) * StepY;
    const uint32_t g00 = Mix(h0) & 15, g10 = Mix(h0 + StepX) & 15;
    const uint32_t g01 = Mix(h0 + StepY) & 15, g11 = Mix(h0 + StepX + StepY) & 15;

    const double fx = qx - double(ix), fy = qy - double(iy);
    // The corners' ramps g . (q - corner).
    const double a00 = GradX[g00] * fx + GradY[g00] * fy;
    const double a10 = GradX[g10] * (fx - 1.0) + GradY[g10] * fy;
    const double a01 = GradX[g01] * fx + GradY[g01] * (fy - 1.0);
    const double a11 = GradX[g11] * (fx - 1.0) + GradY[g11] * (fy - 1.0);
    const double sx = Fade(fx), sy = Fade(fy);
    const double dsx = FadeSlope(fx), dsy = FadeSlope(fy);
    const double cross = a00 - a10 - a01 + a11;
    // N = a00 + sx (a10 - a00) + sy (a01 - a00) + sx sy cross, differentiated.
    *dx = GradX[g00] + sx * (GradX[g10] - GradX[g00]) + sy * (GradX[g01] - GradX[g00]) +
          sx * sy * (GradX[g00] - GradX[g10] - GradX[g01] + GradX[g11]) + dsx * ((a10 - a00) + sy * cross);
    *dy = GradY[g00] + sx * (GradY[g10] - GradY[g00]) + sy * (GradY[g01] - GradY[g00]) +
          sx * sy * (GradY[g00] - GradY[g10] - GradY[g01] + GradY[g11]) + dsy * ((a01 - a00) + sx * cross);
}

Vec2d FlowField::Velocity(const Vec2d& p, double t, double scale) const {
    const double qx = p.x / scale, qy = p.y / scale;
    if (!(std::fabs(qx) < Far && std::fabs(qy) < Far && std::fabs(t) < Far)) return Vec2d();
    const double fqx = std::floor(qx), fqy = std::floor(qy), ft = std::floor(t);
    const int64_t ix = int64_t(fqx), iy = int64_t(fqy), k = int64_t(ft);
    double dx0 = 0, dy0 = 0, dx1 = 0, dy1 = 0;
    Slice(qx, qy, ix, iy, k, &dx0, &dy0);
    Slice(qx, qy, ix, iy, k + 1, &dx1, &dy1);
    const double st = Fade(t - ft);
    const double dx = dx0 + st * (dx1 - dx0), dy = dy0 + st * (dy1 - dy0);
    // The stream function is scale * N(p / scale), so its gradient is N's; the
    // flow is its curl, turned a quarter turn from the gradient.
    return Vec2d(dy, -dx);
}
