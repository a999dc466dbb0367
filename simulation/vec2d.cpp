#include "simulation/vec2d.h"

#include <algorithm>
#include <cmath>

// Powers of two scale exactly, so the direction and the ratios x / length,
// y / length are unchanged.
Vec2d ScaledIntoRange(const Vec2d& v) {
    if (v.x == 0.0 && v.y == 0.0) return v;
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) return v;
    const double big = std::max(std::fabs(v.x), std::fabs(v.y));
    int e = 0;
    std::frexp(big, &e);
    return {std::ldexp(v.x, -e), std::ldexp(v.y, -e)};
}
