// The path-bound step: free (offset from the starting point) and strict (on the
// path with a deviation), banking along the path, and the unbuilt path.
#include <cmath>

#include "sim_fixture.h"

class PathStepTest : public SimulationTest {
protected:
    void SetUp() override {
        SimulationTest::SetUp();
        ParticleOperator& op = *h.Op;
        Line = new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, 0.25f}}, false);
        op.PathPolyline = Line;
        op.MotionPath.BuildFromPolyLine(Line);
        op.PathBindingEnabled = 1;
        op.Lifetime = 10.0;
        op.PathSpeedVariance = 0.0f;
        op.MaximumDeviation = 1.0f;
        Identity = new LookUpTable();
        op.StrictDeviationLut = Identity;
    }
    void TearDown() override {
        h.Op->PathPolyline = nullptr;
        h.Op->StrictDeviationLut = nullptr;
        Line->Recycle();
        Identity->Recycle();
    }
    // A bound particle whose age plus offset is `a`.
    Particle& Bound(double a, Vec2d start = {0.3, 0.4}) {
        Particle& p = OneParticle(start, {0.01, 0.02});
        p.Age = a - 0.5;
        p.PathAgeOffset = 0.5;
        p.PathSpeedFactor = 0.5;
        p.DeviationFactor = 0.5;
        return p;
    }
    PolyLine* Line = nullptr;
    LookUpTable* Identity = nullptr;
};

TEST_F(PathStepTest, FreeModeTracesThePathFromTheStartingPoint) {
    ParticleOperator& op = *h.Op;
    Particle& p = Bound(5.0);
    const uint32_t before = op.Random.GetState();
    op.StepParticles();
    EXPECT_EQ(DrawsSince(before), 0);
    // Halfway in time is halfway along the eased straight line.
    EXPECT_EQ(p.Position.x, 0.3 + 0.25 * 1.25);
    EXPECT_EQ(p.Position.y, 0.4 + 0.125);
    EXPECT_EQ(p.PreviousPosition.x, 0.3);
    EXPECT_EQ(p.Velocity.x, 0.01);
    op.StepParticles();  // the same age gives the same place: no drift
    EXPECT_EQ(p.Position.x, 0.3 + 0.25 * 1.25);
}

TEST_F(PathStepTest, AgeBeyondLifetimeStaysAtTheShareOfThePath) {
    ParticleOperator& op = *h.Op;
    Particle& p = Bound(25.0);
    op.StepParticles();
    EXPECT_EQ(p.Position.x, 0.3 + 0.5 * 1.25);  // the end for share 1
    op.PathSpeedVariance = 1.0f;               // share = PathSpeedFactor = 0.5
    Particle& q = Bound(25.0);
    op.StepParticles();
    EXPECT_EQ(q.Position.x, 0.3 + 0.25 * 1.25);
}

TEST_F(PathStepTest, StrictModeSitsOnThePathWithItsDeviation) {
    ParticleOperator& op = *h.Op;
    op.StrictModeEnabled = 1;
    Particle& p = Bound(5.0);
    op.StepParticles();
    // The tangent at the middle is along (0.5, 0.25); the normal is its perpendicular.
    Vec2d n(-0.25, 0.5);
    n.Normalize();
    const double value = double(float(1.0 * 0.5 * 0.5 * 65535.0));
    const double off = value * 9.999999747378752e-06;
    EXPECT_NEAR(p.Position.x, (0.0 + n.x * off + 0.5) * 1.25, 1e-12);
    EXPECT_NEAR(p.Position.y, (0.125 + n.y * off + 0.5) * 1.0, 1e-12);

    // Two particles born apart share the path in strict mode.
    Particle& q = Bound(5.0, {0.9, 0.1});
    q.DeviationFactor = 0.0;
    op.StepParticles();
    EXPECT_DOUBLE_EQ(q.Position.x, 0.5 * 1.25);
    EXPECT_DOUBLE_EQ(q.Position.y, 0.625);
}

TEST_F(PathStepTest, StrictModeReadsTheDeviationCurveAtThePathParameter) {
    ParticleOperator& op = *h.Op;
    op.StrictModeEnabled = 1;
    LookUpTable* curve = new LookUpTable({0, 1000, 40000, 65535});
    op.StrictDeviationLut = curve;
    Particle& p = Bound(5.0);  // t = 0.5: entry 1 of 4
    op.StepParticles();
    Vec2d n(-0.25, 0.5);
    n.Normalize();
    const double off = double(float(1000.0 * 1.0 * 0.5)) * 9.999999747378752e-06;
    EXPECT_NEAR(p.Position.x, (n.x * off + 0.5) * 1.25, 1e-12);
    EXPECT_NEAR(p.Position.y, (0.125 + n.y * off + 0.5), 1e-12);
    op.StrictDeviationLut = Identity;
    curve->Recycle();
}

TEST_F(PathStepTest, ZeroTangentLeavesOutTheDeviationAndKeepsTheBankingAngle) {
    ParticleOperator& op = *h.Op;
    op.StrictModeEnabled = 1;
    op.BankingEnabled = 1;
    Particle& p = Bound(0.5);
    p.Age = 0.0;
    p.PathAgeOffset = 0.0;  // t = 0: the tangent of an eased start is zero
    p.Angle = 17.0;
    op.StepParticles();
    EXPECT_EQ(p.Position.x, (-0.25 + 0.5) * 1.25);
    EXPECT_EQ(p.Position.y, 0.5);
    EXPECT_EQ(p.Angle, 17.0);

    Particle& q = Bound(5.0);
    op.StepParticles();
    EXPECT_DOUBLE_EQ(q.Angle, DirectionAngle({0.5, 0.25}));
}

TEST_F(PathStepTest, RotationWithoutBankingAdvancesPerStep) {
    ParticleOperator& op = *h.Op;
    op.SimStep = 0.5;
    Particle& p = Bound(5.0);
    p.RotationSpeed = 8.0;
    op.StepParticles();
    EXPECT_EQ(p.Angle, 4.0);
}

TEST_F(PathStepTest, ZeroLifetimeCountsAsTheEndOfTheRun) {
    ParticleOperator& op = *h.Op;
    op.Lifetime = 0.0;
    Particle& p = Bound(0.0);
    op.StepParticles();
    EXPECT_EQ(p.Position.x, 0.3 + 0.5 * 1.25);
    EXPECT_EQ(p.Position.y, 0.4 + 0.25);
    op.StrictModeEnabled = 1;
    op.StepParticles();
    EXPECT_TRUE(std::isfinite(p.Position.x));
    EXPECT_TRUE(std::isfinite(p.Position.y));
}

TEST_F(PathStepTest, UnbuiltPathHoldsFreeParticlesAtTheirStart) {
    ParticleOperator& op = *h.Op;
    op.MotionPath.SegmentCount = -1;
    Particle& p = Bound(5.0);
    op.StepParticles();
    EXPECT_EQ(p.Position.x, 0.3);
    EXPECT_EQ(p.Position.y, 0.4);

    op.StrictModeEnabled = 1;
    p.DeviationFactor = 0.0;
    op.StepParticles();
    EXPECT_EQ(p.Position.x, (double(0.1f) + 0.5) * 1.25);
    EXPECT_EQ(p.Position.y, double(0.1f) + 0.5);
}

TEST_F(PathStepTest, PolylineWithoutPointsLeavesFreeParticlesWhereTheyAre) {
    ParticleOperator& op = *h.Op;
    PolyLine* empty = new PolyLine();
    op.PathPolyline = empty;
    Particle& p = Bound(5.0);
    p.Position = Vec2d(0.7, 0.7);
    op.StepParticles();
    EXPECT_EQ(p.Position.x, 0.7);
    op.PathPolyline = Line;
    empty->Recycle();
}
