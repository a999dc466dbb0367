#pragma once
#include <cstdint>

#include "simulation/polynomial.h"
#include "simulation/vec2d.h"

class PolyLine;

// One cubic Bezier segment in power form, with its derivative.
struct PathSegment {
    float XControls[4] = {};
    float YControls[4] = {};
    Polynomial X, Y, dX, dY;

    void Set(const float x[4], const float y[4]);
    Vec2d PointAt(float f) const;
    Vec2d TangentAt(float f) const;
};

// Up to 100 cubic segments fitted to a host polyline, evaluated by one parameter
// t in [0, 1] with an equal share of t per segment.
class SegmentPath {
public:
    static constexpr int MaxSegments = 100;
    void BuildFromPolyLine(const PolyLine* polyline);
    Vec2d PointAt(float t) const;
    Vec2d TangentAt(float t) const;

    PathSegment Segments[MaxSegments];
    int32_t SegmentCount = -1;
};
