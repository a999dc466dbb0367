#pragma once

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
    void Normalize();
};

double ScalarProduct(const Vec2d& a, const Vec2d& b);
bool Differs(const Vec2d& a, const Vec2d& b);
// a / |a|^2: same direction, length 1/|a|.
Vec2d Inverse(const Vec2d& a);
// Direction in degrees in [-180, 180): the negated counter-clockwise angle from +x,
// computed through asin with the constant 57.2957795.
double DirectionAngle(const Vec2d& a);
