// Segment paths fitted to host polylines.
#include <cmath>
#include <vector>

#include "host/parameters.h"
#include "sim_fixture.h"
#include "simulation/segment_path.h"

namespace {

// Builds `path` from a polyline through the points.
void Build(SegmentPath& path, std::vector<PolyPoint> points, bool closed = false) {
    PolyLine* line = new PolyLine(std::move(points), closed);
    path.BuildFromPolyLine(line);
    line->Recycle();
}

}  // namespace

TEST(SegmentPath, UnbuiltPathGivesTheFixedPoint) {
    SegmentPath path;
    EXPECT_EQ(path.SegmentCount, -1);
    for (float t : {0.0f, 1.0f, 3.0f}) ExpectVec(path.PointAt(t), 0.10000000149011612, 0.10000000149011612);
    ExpectPairs({{path.TangentAt(1.1f).x, 0.10000000149011612}, {path.TangentAt(1.2f).x, 0.0},
                 {path.TangentAt(-0.1f).y, 0.0}});
}

TEST(SegmentPath, TwoPointsEaseAlongTheLineAndHandlesBecomeInnerControlPoints) {
    SegmentPath path;
    Build(path, {{-0.25f, 0.0f}, {0.25f, 0.5f}});
    ASSERT_EQ(path.SegmentCount, 1);
    const float* xc = path.Segments[0].XControls;
    EXPECT_TRUE(xc[0] == -0.25f && xc[1] == -0.25f && xc[2] == 0.25f && xc[3] == 0.25f);
    ExpectVec(path.PointAt(0.0f), -0.25, 0.0);
    ExpectVec(path.PointAt(0.5f), 0.0, 0.25);
    ExpectVec(path.PointAt(1.0f), 0.25, 0.5);
    // Eases in: a quarter of the way in time covers less than a quarter of the way.
    EXPECT_LT(path.PointAt(0.25f).x, -0.125);
    ExpectVec(path.TangentAt(0.0f), 0.0, 0.0);
    ExpectVec(path.TangentAt(1.0f), 0.0, 0.0);
    EXPECT_GT(path.TangentAt(0.5f).x, 0.0);

    Build(path, {{0.0f, 0.0f, nullptr, 0.0, 0.0, 0.1, -0.2}, {0.3f, 0.4f, nullptr, -0.05}});
    const PathSegment& s = path.Segments[0];
    ExpectPairs({{s.XControls[1], 0.1f}, {s.YControls[1], -0.2f}, {s.XControls[2], float(double(0.3f) - 0.05)},
                 {s.YControls[2], 0.4f}});
    // The derivative is that of the cubic: 3 (P1 - P0) at the start.
    EXPECT_NEAR(path.TangentAt(0.0f).x, 0.3, 1e-7);
    EXPECT_NEAR(path.TangentAt(0.0f).y, -0.6, 1e-7);
}

TEST(SegmentPath, OpenAndClosedPathsShareTimeEquallyOverAtMostAHundredPoints) {
    SegmentPath path;
    const std::vector<PolyPoint> three = {{0.0f, 0.0f}, {0.25f, 0.125f}, {0.5f, -0.25f}};
    Build(path, three);
    EXPECT_EQ(path.SegmentCount, 2);
    ExpectVec(path.PointAt(0.5f), 0.25, 0.125);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.5);
    Build(path, three, true);
    EXPECT_EQ(path.SegmentCount, 3);
    ExpectVec(path.PointAt(1.0f), 0.0, 0.0);
    EXPECT_EQ(path.Segments[2].XControls[0], 0.5f);

    std::vector<PolyPoint> many;
    for (int i = 0; i < 150; ++i) many.push_back({float(i) / 256.0f, 0.0f});
    Build(path, many);
    EXPECT_EQ(path.SegmentCount, 99);
    EXPECT_EQ(path.PointAt(1.0f).x, 99.0 / 256.0);
    Build(path, many, true);
    EXPECT_EQ(path.SegmentCount, 100);
    EXPECT_EQ(path.Segments[99].XControls[0], 99.0f / 256.0f);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.0);

    // Every segment takes an equal share: a quarter of t is the middle of the short first one.
    Build(path, {{0.0f, 0.0f}, {0.0625f, 0.0f}, {0.5f, 0.0f}});
    EXPECT_EQ(path.PointAt(0.25f).x, 0.03125);
    EXPECT_EQ(path.PointAt(0.75f).x, 0.28125);
    // Parameters outside the range are evaluated on the end segments, never beyond the array.
    EXPECT_TRUE(std::isfinite(path.PointAt(-3.0f).x) && std::isfinite(path.PointAt(7.0f).x));
    // A polyline of one point keeps the last binding.
    Build(path, {{0.3f, 0.3f}}, true);
    EXPECT_EQ(path.SegmentCount, 2);
    EXPECT_EQ(path.PointAt(1.0f).x, 0.5);
}
