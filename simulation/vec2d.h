#pragma once
#include <cmath>

// A two-dimensional vector of doubles: positions, velocities, forces, path points.
struct Vec2d {
    double x = 0.0;
    double y = 0.0;

    Vec2d() = default;
    Vec2d(double x_, double y_) : x(x_), y(y_) {}

    Vec2d operator+(const Vec2d& b) const { return {x + b.x, y + b.y}; }
    Vec2d operator-(const Vec2d& b) const { return {x - b.x, y - b.y}; }
    Vec2d operator*(double s) const { return {x * s, y * s}; }
    Vec2d operator/(double s) const { return {x / s, y / s}; }
    Vec2d& operator+=(const Vec2d& b) {
        x += b.x;
        y += b.y;
        return *this;
    }
    void Negate() {
        x = -x;
        y = -y;
    }
    // (x, y) becomes (-y, x).
    void Perpendicular() {
        double t = x;
        x = -y;
        y = t;
    }
    // Divides both components by the length. Callers never pass the zero vector.
    inline void Normalize();
};

// The small vector functions are inline: the simulation calls them for every
// particle of every step.

// A non-zero vector scaled by a power of two when its squared length underflows
// to zero or overflows to infinity (see vec2d.cpp); others as they are.
Vec2d ScaledIntoRange(const Vec2d& v);

inline Vec2d InRange(const Vec2d& v) {
    const double len2 = v.x * v.x + v.y * v.y;
    if (len2 > 0.0 && std::isfinite(len2)) return v;
    return ScaledIntoRange(v);
}

inline void Vec2d::Normalize() {
    // The zero vector has no direction; it is left as it is (callers avoid it).
    if (x == 0.0 && y == 0.0) return;
    const Vec2d v = InRange(*this);
    const double len = std::sqrt(v.x * v.x + v.y * v.y);
    x = v.x / len;
    y = v.y / len;
}

inline double ScalarProduct(const Vec2d& a, const Vec2d& b) { return a.x * b.x + a.y * b.y; }

inline bool Differs(const Vec2d& a, const Vec2d& b) { return a.x != b.x || a.y != b.y; }

// a / |a|^2: same direction, length 1/|a|.
inline Vec2d Inverse(const Vec2d& a) {
    const double len2 = a.x * a.x + a.y * a.y;
    return {a.x / len2, a.y / len2};
}

// Direction in degrees in [-180, 180): the negated counter-clockwise angle from +x,
// computed through asin with the constant 57.2957795.
inline double DirectionAngle(const Vec2d& a) {
    // The constant is the tool's own, slightly short of 180 / pi; results differ
    // from an atan2 formulation by a few 1e-8 degrees and are kept that way.
    const Vec2d v = InRange(a);
    const double len = std::sqrt(v.x * v.x + v.y * v.y);
    double angle = std::asin(v.x / len) * 57.2957795;
    if (v.y / len < 0) angle = 180.0 - angle;
    return angle - 90.0;
}
