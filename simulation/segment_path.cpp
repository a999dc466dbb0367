#include "simulation/segment_path.h"

#include <cmath>

#include "host/parameters.h"

namespace {

// Power-form coefficients of a cubic Bezier curve over one axis, each stored as a
// float before the next one is formed from it.
void FitCubic(const float c[4], float out[4]) {
    const float c0 = c[0];
    const float c1 = float((double(c[1]) - double(c[0])) * 3.0);
    const float c2 = float((double(c[2]) - double(c[1])) * 3.0 - double(c1));
    const float c3 = float(double(c[3]) - double(c[0]) - double(c1) - double(c2));
    out[0] = c0;
    out[1] = c1;
    out[2] = c2;
    out[3] = c3;
}

// The segment index and the parameter within it for a path parameter t: every
// segment takes an equal share of t. The index stays within the built segments
// whatever t is.
int32_t SegmentFor(int32_t count, float t, float* f) {
    const double v = double(count) * double(t);
    int32_t index = 0;
    if (v >= double(count - 1)) {
        index = count - 1;
    } else if (v > 0.0) {
        index = int32_t(v);
    }
    *f = float(v - double(index));
    return index;
}

}  // namespace

void PathSegment::Set(const float x[4], const float y[4]) {
    for (int i = 0; i < 4; ++i) {
        XControls[i] = x[i];
        YControls[i] = y[i];
    }
    float cx[4], cy[4];
    FitCubic(XControls, cx);
    FitCubic(YControls, cy);
    X.SetDegree(3);
    X.SetCoefficients(cx);
    Y.SetDegree(3);
    Y.SetCoefficients(cy);
    dX = X;
    dX.Derive();
    dY = Y;
    dY.Derive();
}

Vec2d PathSegment::PointAt(float f) const { return {X.Evaluate(f), Y.Evaluate(f)}; }

Vec2d PathSegment::TangentAt(float f) const { return {dX.Evaluate(f), dY.Evaluate(f)}; }

void SegmentPath::BuildFromPolyLine(const PolyLine* polyline) {
    // A path needs at least one segment; fewer than two points leave the path
    // built last in force.
    if (!polyline) return;
    const int32_t n = polyline->GetCount(0);
    const PolyPoint* first = polyline->First(0);
    if (n < 2 || !first) return;

    int32_t segs = n - 1;
    if (segs > MaxSegments - 1) segs = MaxSegments - 1;

    const PolyPoint* p = first;
    int32_t built = 0;
    for (int32_t k = 0; k < segs; ++k) {
        const PolyPoint* q = p->Next;
        if (!q) break;  // a list shorter than its count: keep what was fitted
        const float x[4] = {p->X, float(double(p->X) + p->OutDX), float(double(q->X) + q->InDX), q->X};
        const float y[4] = {p->Y, float(double(p->Y) + p->OutDY), float(double(q->Y) + q->InDY), q->Y};
        Segments[k].Set(x, y);
        p = q;
        ++built;
    }
    if (built == 0) return;
    if (polyline->Closed) {
        // Closes from the last point used back to the first one.
        const float x[4] = {p->X, float(double(p->X) + p->OutDX), float(double(first->X) + first->InDX), first->X};
        const float y[4] = {p->Y, float(double(p->Y) + p->OutDY), float(double(first->Y) + first->InDY), first->Y};
        Segments[built].Set(x, y);
        SegmentCount = built + 1;
    } else {
        SegmentCount = built;
    }
}

Vec2d SegmentPath::PointAt(float t) const {
    if (SegmentCount < 1) return {double(0.1f), double(0.1f)};
    float f = 0.0f;
    const int32_t index = SegmentFor(SegmentCount, t, &f);
    return Segments[index].PointAt(f);
}

Vec2d SegmentPath::TangentAt(float t) const {
    if (t < 0.0f || double(t) >= 1.2) return {0.0, 0.0};
    if (SegmentCount < 1) return {double(0.1f), double(0.1f)};
    float f = 0.0f;
    const int32_t index = SegmentFor(SegmentCount, t, &f);
    return Segments[index].TangentAt(f);
}
