// The path-bound step: free (offset from the starting point) and strict (on the
// path with a deviation), banking along the path, and the unbuilt path.
#include <cmath>

#include "sim_fixture.h"

class PathStepTest : public SimulationTest {
protected:
    void SetUp() override {
        SimulationTest::SetUp();
        f.PathPolyline = Line;
        f.MotionPath.BuildFromPolyLine(Line);
        on.PathBinding = 1;
        f.Lifetime = 10.0;
        f.PathSpeedVariance = 0.0f;
        f.MaximumDeviation = 1.0f;
        f.StrictDeviationLut = Identity;
    }
    void TearDown() override {
        SimulationTest::TearDown();
        Line->Recycle();
        Identity->Recycle();
    }
    // Steps a bound particle whose age plus offset is `a`.
    Particle& StepBound(double a, Vec2d start = {0.3, 0.4}, double deviation = 0.5) {
        Particle& p = OneParticle(start, {0.01, 0.02});
        p.Age = a - 0.5;
        p.PathAgeOffset = p.PathSpeedFactor = 0.5;
        p.DeviationFactor = deviation;
        Step();
        return p;
    }
    // Expects the place on the path's middle moved by `off` along its unit normal,
    // the tangent there being along (0.5, 0.25).
    static void ExpectOffMiddle(const Vec2d& got, double off) {
        Vec2d n(-0.25, 0.5);
        n.Normalize();
        EXPECT_NEAR(got.x, (n.x * off + 0.5) * 1.25, 1e-12);
        EXPECT_NEAR(got.y, 0.125 + n.y * off + 0.5, 1e-12);
    }
    PolyLine* Line = new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, 0.25f}}, false);
    LookUpTable* Identity = new LookUpTable();
};

TEST_F(PathStepTest, FreeModeTracesThePathFromTheStartingPoint) {
    f.SimStep = 0.5;
    const uint32_t before = random.GetState();
    Particle& p = OneParticle({0.3, 0.4}, {0.01, 0.02});
    p.Age = 4.5;
    p.PathAgeOffset = 0.5;
    p.RotationSpeed = 8.0;
    Step();
    EXPECT_EQ(DrawsSince(before), 0);
    // Halfway in time is halfway along the eased straight line.
    ExpectVec(p.Position, 0.3 + 0.25 * 1.25, 0.4 + 0.125);
    ExpectPairs({{p.PreviousPosition.x, 0.3}, {p.Velocity.x, 0.01}, {p.Angle, 4.0}});  // rotation per step
    Step();  // the same age gives the same place: no drift
    EXPECT_EQ(p.Position.x, 0.3 + 0.25 * 1.25);
    // Beyond the lifetime it stays at its share of the path: the end for share 1,
    // PathSpeedFactor with full variance.
    EXPECT_EQ(StepBound(25.0).Position.x, 0.3 + 0.5 * 1.25);
    f.PathSpeedVariance = 1.0f;
    EXPECT_EQ(StepBound(25.0).Position.x, 0.3 + 0.25 * 1.25);
}

TEST_F(PathStepTest, StrictModeSitsOnThePathWithTheDeviationCurvesValue) {
    on.Strict = 1;
    ExpectOffMiddle(StepBound(5.0).Position, double(float(1.0 * 0.5 * 0.5 * 65535.0)) * 9.999999747378752e-06);
    // Two particles born apart share the path in strict mode.
    const Vec2d q = StepBound(5.0, {0.9, 0.1}, 0.0).Position;
    EXPECT_DOUBLE_EQ(q.x, 0.5 * 1.25);
    EXPECT_DOUBLE_EQ(q.y, 0.625);
    // The curve is read at the path parameter: t = 0.5 is entry 1 of 4.
    LookUpTable* curve = new LookUpTable({0, 1000, 40000, 65535});
    f.StrictDeviationLut = curve;
    ExpectOffMiddle(StepBound(5.0).Position, double(float(1000.0 * 1.0 * 0.5)) * 9.999999747378752e-06);
    f.StrictDeviationLut = Identity;
    curve->Recycle();
}

TEST_F(PathStepTest, ZeroTangentOrLifetimeGiveNoNaN) {
    on.Strict = on.Banking = 1;
    // t = 0: the tangent of an eased start is zero; the deviation is left out and
    // the banking angle kept.
    Particle& p = OneParticle({0.3, 0.4}, {0.01, 0.02});
    p.DeviationFactor = 0.5;
    p.Angle = 17.0;
    Step();
    ExpectVec(p.Position, (-0.25 + 0.5) * 1.25, 0.5);
    EXPECT_EQ(p.Angle, 17.0);
    EXPECT_DOUBLE_EQ(StepBound(5.0).Angle, DirectionAngle({0.5, 0.25}));

    // A lifetime of 0 counts as the end of the run.
    f.Lifetime = 0.0;
    on.Strict = on.Banking = 0;
    ExpectVec(StepBound(0.0).Position, 0.3 + 0.5 * 1.25, 0.4 + 0.25);
    on.Strict = 1;
    const Vec2d s = StepBound(0.0).Position;
    EXPECT_TRUE(std::isfinite(s.x) && std::isfinite(s.y));
}

TEST_F(PathStepTest, UnbuiltOrEmptyPathHoldsFreeParticles) {
    f.MotionPath.SegmentCount = -1;
    ExpectVec(StepBound(5.0).Position, 0.3, 0.4);  // at their start
    on.Strict = 1;
    ExpectVec(StepBound(5.0, {0.3, 0.4}, 0.0).Position, (double(0.1f) + 0.5) * 1.25, double(0.1f) + 0.5);

    // A polyline without points leaves free particles where they are.
    on.Strict = 0;
    f.MotionPath.BuildFromPolyLine(Line);
    PolyLine* empty = new PolyLine();
    f.PathPolyline = empty;
    Particle& q = OneParticle({0.3, 0.4}, {0.01, 0.02});
    q.Age = 4.5;
    q.Position = Vec2d(0.7, 0.7);
    Step();
    EXPECT_EQ(q.Position.x, 0.7);
    f.PathPolyline = Line;
    empty->Recycle();
}
