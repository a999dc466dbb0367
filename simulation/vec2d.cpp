#include "simulation/vec2d.h"

#include <algorithm>
#include <cmath>

namespace {

// Scales a non-zero vector by a power of two when its squared length would
// underflow to zero or overflow to infinity. Powers of two scale exactly, so the
// direction and the ratios x / length, y / length are unchanged; vectors of
// ordinary size are returned as they are.
Vec2d InRange(const Vec2d& v) {
    const double len2 = v.x * v.x + v.y * v.y;
    if (len2 > 0.0 && std::isfinite(len2)) return v;
    if (v.x == 0.0 && v.y == 0.0) return v;
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) return v;
    const double big = std::max(std::fabs(v.x), std::fabs(v.y));
    int e = 0;
    std::frexp(big, &e);
    return {std::ldexp(v.x, -e), std::ldexp(v.y, -e)};
}

}  // namespace

void Vec2d::Normalize() {
    // The zero vector has no direction; it is left as it is (callers avoid it).
    if (x == 0.0 && y == 0.0) return;
    const Vec2d v = InRange(*this);
    const double len = std::sqrt(v.x * v.x + v.y * v.y);
    x = v.x / len;
    y = v.y / len;
}

double ScalarProduct(const Vec2d& a, const Vec2d& b) { return a.x * b.x + a.y * b.y; }

bool Differs(const Vec2d& a, const Vec2d& b) { return a.x != b.x || a.y != b.y; }

Vec2d Inverse(const Vec2d& a) {
    const double len2 = a.x * a.x + a.y * a.y;
    return {a.x / len2, a.y / len2};
}

double DirectionAngle(const Vec2d& a) {
    // The constant is the tool's own, slightly short of 180 / pi; results differ
    // from an atan2 formulation by a few 1e-8 degrees and are kept that way.
    const Vec2d v = InRange(a);
    const double len = std::sqrt(v.x * v.x + v.y * v.y);
    double angle = std::asin(v.x / len) * 57.2957795;
    if (v.y / len < 0) angle = 180.0 - angle;
    return angle - 90.0;
}
