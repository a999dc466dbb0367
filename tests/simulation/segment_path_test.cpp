// Segment paths fitted to host polylines.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/parameters.h"
#include "simulation/segment_path.h"

namespace {

PolyLine* MakeLine(const std::vector<std::pair<float, float>>& pts, bool closed) {
    std::vector<PolyPoint> points;
    for (auto [x, y] : pts) {
        PolyPoint p;
        p.X = x;
        p.Y = y;
        points.push_back(p);
    }
    return new PolyLine(points, closed);
}

struct Held {
    explicit Held(PolyLine* p) : Line(p) {}
    ~Held() { Line->Recycle(); }
    PolyLine* Line;
};

}  // namespace

TEST(SegmentPath, UnbuiltPathGivesTheFixedPoint) {
    SegmentPath path;
    EXPECT_EQ(path.SegmentCount, -1);
    for (float t : {0.0f, 0.5f, 1.0f, 3.0f}) {
        const Vec2d p = path.PointAt(t);
        EXPECT_EQ(p.x, 0.10000000149011612);
        EXPECT_EQ(p.y, 0.10000000149011612);
    }
    EXPECT_EQ(path.TangentAt(1.1f).x, 0.10000000149011612);
    EXPECT_EQ(path.TangentAt(1.2f).x, 0.0);
    EXPECT_EQ(path.TangentAt(-0.1f).y, 0.0);
}

TEST(SegmentPath, TwoPointsWithoutHandlesEaseAlongTheLine) {
    Held line(MakeLine({{-0.25f, 0.0f}, {0.25f, 0.5f}}, false));
    SegmentPath path;
    path.BuildFromPolyLine(line.Line);
    ASSERT_EQ(path.SegmentCount, 1);
    const PathSegment& s = path.Segments[0];
    EXPECT_EQ(s.XControls[0], -0.25f);
    EXPECT_EQ(s.XControls[1], -0.25f);
    EXPECT_EQ(s.XControls[2], 0.25f);
    EXPECT_EQ(s.XControls[3], 0.25f);

    EXPECT_EQ(path.PointAt(0.0f).x, -0.25);
    EXPECT_EQ(path.PointAt(0.5f).x, 0.0);
    EXPECT_EQ(path.PointAt(0.5f).y, 0.25);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.25);
    EXPECT_EQ(path.PointAt(1.0f).y, 0.5);
    // Eases in: a quarter of the way in time covers less than a quarter of the way.
    EXPECT_LT(path.PointAt(0.25f).x, -0.125);
    const Vec2d t0 = path.TangentAt(0.0f), t1 = path.TangentAt(1.0f);
    EXPECT_EQ(t0.x, 0.0);
    EXPECT_EQ(t0.y, 0.0);
    EXPECT_EQ(t1.x, 0.0);
    EXPECT_EQ(t1.y, 0.0);
    EXPECT_GT(path.TangentAt(0.5f).x, 0.0);
}

TEST(SegmentPath, HandlesBecomeInnerControlPoints) {
    std::vector<PolyPoint> pts(2);
    pts[0].X = 0.0f;
    pts[0].OutDX = 0.1;
    pts[0].OutDY = -0.2;
    pts[1].X = 0.3f;
    pts[1].Y = 0.4f;
    pts[1].InDX = -0.05;
    Held line(new PolyLine(pts, false));
    SegmentPath path;
    path.BuildFromPolyLine(line.Line);
    const PathSegment& s = path.Segments[0];
    EXPECT_EQ(s.XControls[1], 0.1f);
    EXPECT_EQ(s.YControls[1], -0.2f);
    EXPECT_EQ(s.XControls[2], float(double(0.3f) - 0.05));
    EXPECT_EQ(s.YControls[2], 0.4f);
    // The derivative is that of the cubic: 3 (P1 - P0) at the start.
    EXPECT_NEAR(path.TangentAt(0.0f).x, 0.3, 1e-7);
    EXPECT_NEAR(path.TangentAt(0.0f).y, -0.6, 1e-7);
}

TEST(SegmentPath, ThreePointsOpenAndClosed) {
    Held open(MakeLine({{0.0f, 0.0f}, {0.25f, 0.125f}, {0.5f, -0.25f}}, false));
    SegmentPath path;
    path.BuildFromPolyLine(open.Line);
    EXPECT_EQ(path.SegmentCount, 2);
    EXPECT_EQ(path.PointAt(0.5f).x, 0.25);
    EXPECT_EQ(path.PointAt(0.5f).y, 0.125);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.5);

    Held closed(MakeLine({{0.0f, 0.0f}, {0.25f, 0.125f}, {0.5f, -0.25f}}, true));
    path.BuildFromPolyLine(closed.Line);
    EXPECT_EQ(path.SegmentCount, 3);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.0);
    EXPECT_EQ(path.PointAt(1.0f).y, 0.0);
    EXPECT_EQ(path.Segments[2].XControls[0], 0.5f);
}

TEST(SegmentPath, UsesAtMostTheFirstHundredPoints) {
    std::vector<std::pair<float, float>> pts;
    for (int i = 0; i < 150; ++i) pts.push_back({float(i) / 256.0f, 0.0f});
    Held open(MakeLine(pts, false));
    SegmentPath path;
    path.BuildFromPolyLine(open.Line);
    EXPECT_EQ(path.SegmentCount, 99);
    EXPECT_EQ(path.PointAt(1.0f).x, 99.0 / 256.0);

    Held closed(MakeLine(pts, true));
    path.BuildFromPolyLine(closed.Line);
    EXPECT_EQ(path.SegmentCount, 100);
    EXPECT_EQ(path.Segments[99].XControls[0], 99.0f / 256.0f);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.0);
}

TEST(SegmentPath, EverySegmentTakesAnEqualShare) {
    Held line(MakeLine({{0.0f, 0.0f}, {0.0625f, 0.0f}, {0.5f, 0.0f}}, false));
    SegmentPath path;
    path.BuildFromPolyLine(line.Line);
    // A quarter of t is the middle of the short first segment.
    EXPECT_EQ(path.PointAt(0.25f).x, 0.03125);
    EXPECT_EQ(path.PointAt(0.75f).x, 0.28125);
}

TEST(SegmentPath, TooShortPolylineKeepsTheLastBinding) {
    Held two(MakeLine({{0.0f, 0.0f}, {0.5f, 0.0f}}, false));
    Held one(MakeLine({{0.3f, 0.3f}}, true));
    SegmentPath path;
    path.BuildFromPolyLine(two.Line);
    path.BuildFromPolyLine(one.Line);
    EXPECT_EQ(path.SegmentCount, 1);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.5);
}

TEST(SegmentPath, ParametersOutsideTheRangeStayWithinTheSegments) {
    Held line(MakeLine({{0.0f, 0.0f}, {0.5f, 0.0f}, {1.0f, 0.0f}}, false));
    SegmentPath path;
    path.BuildFromPolyLine(line.Line);
    // Evaluated on the first and the last segment, never beyond the array.
    EXPECT_TRUE(std::isfinite(path.PointAt(-3.0f).x));
    EXPECT_TRUE(std::isfinite(path.PointAt(7.0f).x));
}
