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

// The whole part below v, for |v| < 2^52 (where the conversions are exact);
// the library floor is a call on processors without a rounding instruction.
inline int64_t Floor(double v) {
    const int64_t i = int64_t(v);
    return double(i) > v ? i - 1 : i;
}

// Beyond this many lattice cells (or periods of time) from the origin a double
// no longer resolves the place within a cell well; the field is zero there.
constexpr double Far = 1e9;

}  // namespace

FlowField::FlowField(uint32_t toolSeed) : Hashed(Mix(toolSeed ^ 0x5EED7A1Bu)) {}

Vec2d FlowField::Velocity(const Vec2d& p, double t, double scale) const {
    const double qx = p.x / scale, qy = p.y / scale;
    if (!(std::fabs(qx) < Far && std::fabs(qy) < Far && std::fabs(t) < Far)) return Vec2d();
    const int64_t ix = Floor(qx), iy = Floor(qy), k = Floor(t);
    const double fqx = double(ix), fqy = double(iy), ft = double(k);

    // Each corner's gradient on the two slices of time around t: one full hash
    // of the seed plus the corner's coordinates, each spread by its own odd
    // multiplier. The noise is linear in the gradients, so blending the two
    // slices' noises is blending their gradients.
    constexpr uint32_t StepX = 0x85EBCA77u, StepY = 0xC2B2AE3Du, StepT = 0x9E3779B1u;
    const uint32_t h0 = Hashed + uint32_t(k) * StepT + uint32_t(ix) * StepX + uint32_t(iy) * StepY;
    const uint32_t corner[4] = {h0, h0 + StepX, h0 + StepY, h0 + StepX + StepY};
    const double st = Fade(t - ft);
    double gx[4], gy[4];
    for (int c = 0; c < 4; ++c) {
        const uint32_t a = Mix(corner[c]) & 15, b = Mix(corner[c] + StepT) & 15;
        gx[c] = GradX[a] + st * (GradX[b] - GradX[a]);
        gy[c] = GradY[a] + st * (GradY[b] - GradY[a]);
    }

    const double fx = qx - fqx, fy = qy - fqy;
    // The corners' ramps g . (q - corner), corners 00, 10, 01, 11.
    const double a00 = gx[0] * fx + gy[0] * fy;
    const double a10 = gx[1] * (fx - 1.0) + gy[1] * fy;
    const double a01 = gx[2] * fx + gy[2] * (fy - 1.0);
    const double a11 = gx[3] * (fx - 1.0) + gy[3] * (fy - 1.0);
    const double sx = Fade(fx), sy = Fade(fy);
    const double dsx = FadeSlope(fx), dsy = FadeSlope(fy);
    const double cross = a00 - a10 - a01 + a11;
    // N = a00 + sx (a10 - a00) + sy (a01 - a00) + sx sy cross, differentiated.
    const double dx = gx[0] + sx * (gx[1] - gx[0]) + sy * (gx[2] - gx[0]) +
                      sx * sy * (gx[0] - gx[1] - gx[2] + gx[3]) + dsx * ((a10 - a00) + sy * cross);
    const double dy = gy[0] + sx * (gy[1] - gy[0]) + sy * (gy[2] - gy[0]) +
                      sx * sy * (gy[0] - gy[1] - gy[2] + gy[3]) + dsy * ((a01 - a00) + sx * cross);
    // The stream function is scale * N(p / scale), so its gradient is N's; the
    // flow is its curl, turned a quarter turn from the gradient.
    return Vec2d(dy, -dx);
}
