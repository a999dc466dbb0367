// Ageing and the free step: forces, jitter draws, bounce lines, rotation, banking.
#include <cmath>

#include "sim_fixture.h"

namespace {

// A line from S to Q as the frame settings leave it (normal included).
void SetLine(BounceLine& line, Vec2d s, Vec2d q, double elasticity, double roughness) {
    line.Enabled = 1;
    line.Start = s;
    line.End = q;
    Vec2d n = q - s;
    n.Perpendicular();
    n.Normalize();
    line.Normal = n;
    line.Elasticity = elasticity;
    line.Roughness = roughness;
}

}  // namespace

using MotionTest = SimulationTest;

TEST_F(MotionTest, WithoutForcesParticlesFlyStraightAndTakeSixDrawsEach) {
    ParticleOperator& op = *h.Op;
    for (int i = 0; i < 3; ++i) op.BirthParticle();
    for (int i = 0; i < 3; ++i) op.LiveParticle(i).Velocity = Vec2d(0.01 * (i + 1), -0.005);
    const Vec2d start = op.LiveParticle(2).Position;
    const uint32_t before = op.Random.GetState();
    op.StepParticles();
    op.StepParticles();
    EXPECT_EQ(DrawsSince(before), 36);
    const Particle& p = op.LiveParticle(2);
    EXPECT_EQ(p.Position.x, start.x + 0.03 + 0.03);
    EXPECT_EQ(p.Position.y, start.y - 0.005 - 0.005);
    EXPECT_EQ(p.Velocity.x, 0.03);
    EXPECT_EQ(p.PreviousPosition.x, p.Position.x);
}

TEST_F(MotionTest, GravityAndRotationActPerTimeStep) {
    ParticleOperator& op = *h.Op;
    op.GravityVector = Vec2d(0.0, 2.0);
    op.SimStep = 0.5;
    Particle& p = OneParticle({0.5, 0.5}, {0.0, 0.0});
    p.RotationSpeed = 10.0;
    p.Angle = 5.0;
    op.StepParticles();
    EXPECT_EQ(p.Velocity.y, 0.01);   // G / 100 * step
    EXPECT_DOUBLE_EQ(p.Position.y, 0.505);  // velocity * step
    EXPECT_EQ(p.Angle, 10.0);
}

TEST_F(MotionTest, AttractorPullsWithInverseDistanceAndDeflectorPushes) {
    ParticleOperator& op = *h.Op;
    op.Attractors[0].AttractorEnabled = 1;
    op.Attractors[0].Position = Vec2d(0.5, 0.5);
    op.Attractors[0].Strength = 0.002;
    Particle& p = OneParticle({0.25, 0.5}, {0.0, 0.0});
    op.StepParticles();
    EXPECT_DOUBLE_EQ(p.Velocity.x, 0.002 / 0.25);
    EXPECT_EQ(p.Velocity.y, 0.0);

    op.Attractors[1].AttractorEnabled = 1;
    op.Attractors[1].Position = Vec2d(0.5, 0.5);
    op.Attractors[1].Strength = -0.002;
    Particle& q = OneParticle({0.25, 0.5}, {0.0, 0.0});
    op.StepParticles();
    EXPECT_NEAR(q.Velocity.x, 0.0, 1e-18);  // equal and opposite
}

TEST_F(MotionTest, ParticleExactlyAtAnAttractorFeelsNothingFromIt) {
    ParticleOperator& op = *h.Op;
    op.Attractors[0].AttractorEnabled = 1;
    op.Attractors[0].Position = Vec2d(0.5, 0.5);
    op.Attractors[0].Strength = 0.002;
    op.Attractors[1].AttractorEnabled = 1;
    op.Attractors[1].Position = Vec2d(0.75, 0.5);
    op.Attractors[1].Strength = 0.001;
    Particle& p = OneParticle({0.5, 0.5}, {0.0, 0.0});
    op.StepParticles();
    EXPECT_DOUBLE_EQ(p.Velocity.x, 0.001 / 0.25);  // only the second one
    EXPECT_EQ(p.Velocity.y, 0.0);
    EXPECT_TRUE(std::isfinite(p.Position.x));
}

TEST_F(MotionTest, JitterScalesWithTumble) {
    ParticleOperator& op = *h.Op;
    op.Tumble = 1000.0;
    Particle& p = OneParticle({0.5, 0.5}, {0.0, 0.0});
    op.StepParticles();
    // At most 65536 * 1e-6 * Tumble in either direction.
    EXPECT_LE(std::fabs(p.Velocity.x), 65.536);
    EXPECT_LE(std::fabs(p.Velocity.y), 65.536);
    EXPECT_TRUE(p.Velocity.x != 0.0 || p.Velocity.y != 0.0);
}

TEST_F(MotionTest, StraightBounceWithFullElasticityReversesTheVelocity) {
    ParticleOperator& op = *h.Op;
    SetLine(op.BounceLines[0], {0.0, 0.0}, {0.8, -0.6}, 1.0, 0.0);  // normal (0.6, 0.8)
    const Vec2d P(0.4 + 0.06, -0.3 + 0.08);                        // 0.1 before the line
    const Vec2d M(-0.12, -0.16);                                    // 0.2 straight at it
    Particle& p = OneParticle(P, M);
    const uint32_t before = op.Random.GetState();
    op.StepParticles();
    EXPECT_EQ(DrawsSince(before), 9);
    EXPECT_DOUBLE_EQ(p.Velocity.x, 0.12);
    EXPECT_DOUBLE_EQ(p.Velocity.y, 0.16);
    // u = 0.5: back where it started, as far before the line as it would have gone beyond.
    EXPECT_NEAR(p.Position.x, P.x, 1e-15);
    EXPECT_NEAR(p.Position.y, P.y, 1e-15);
}

TEST_F(MotionTest, BounceWithoutElasticityStopsOnTheLine) {
    ParticleOperator& op = *h.Op;
    SetLine(op.BounceLines[0], {0.0, 0.0}, {0.8, -0.6}, 0.0, 0.0);
    Particle& p = OneParticle({0.46, -0.22}, {-0.12, -0.16});
    op.StepParticles();
    EXPECT_EQ(p.Velocity.x, 0.0);
    EXPECT_EQ(p.Velocity.y, 0.0);
    EXPECT_NEAR(p.Position.x, 0.4, 1e-15);
    EXPECT_NEAR(p.Position.y, -0.3, 1e-15);
}

TEST_F(MotionTest, RoughBounceStaysOnTheSideOfApproach) {
    ParticleOperator& op = *h.Op;
    SetLine(op.BounceLines[0], {0.0, 0.0}, {0.8, -0.6}, 1.0, 50.0);
    for (int i = 0; i < 200; ++i) {
        Particle& p = OneParticle({0.46, -0.22}, {-0.12 + 0.0004 * i, -0.3});
        const uint32_t before = op.Random.GetState();
        op.StepParticles();
        ASSERT_EQ(DrawsSince(before), 9) << i;
        // Positive side of the line: (pos - S) . N >= 0.
        EXPECT_GE(ScalarProduct(p.Position, op.BounceLines[0].Normal), -1e-15) << i;
    }
}

TEST_F(MotionTest, MovesTouchingTheLineOnlyAtTheirEndsOrItsEndsAreNoHit) {
    ParticleOperator& op = *h.Op;
    // The line y = x / 2 from (0, 0) to (1, 0.5); every u and w below is exact.
    SetLine(op.BounceLines[0], {0.0, 0.0}, {1.0, 0.5}, 1.0, 0.0);
    struct Case {
        Vec2d P, M;
        bool hit;
    } cases[] = {
        {{0.5, 0.25}, {0.0, -0.5}, false},  // starts on the line: u = 0
        {{0.5, 0.75}, {0.0, -0.5}, false},  // ends on the line: u = 1
        {{0.0, 0.5}, {0.0, -1.0}, false},   // meets it at its start: w = 0
        {{1.0, 1.0}, {0.0, -1.0}, false},   // meets it at its end: w = 1
        {{0.5, 0.75}, {0.0, -0.75}, true},  // crosses it inside
        {{0.2, 0.3}, {0.2, 0.1}, false},    // parallel
    };
    for (const Case& c : cases) {
        Particle& p = OneParticle(c.P, c.M);
        const uint32_t before = op.Random.GetState();
        op.StepParticles();
        EXPECT_EQ(DrawsSince(before), c.hit ? 9 : 6) << c.P.x << "," << c.P.y;
        if (!c.hit) {
            EXPECT_EQ(p.Position.x, c.P.x + c.M.x);
            EXPECT_EQ(p.Position.y, c.P.y + c.M.y);
        }
    }
}

TEST_F(MotionTest, BothLinesCrossedLeaveLineTwosOutcome) {
    ParticleOperator& op = *h.Op;
    const Vec2d P(0.5, 0.8), M(0.0, -0.6);
    SetLine(op.BounceLines[0], {0.0, 0.4}, {1.0, 0.6}, 1.0, 0.0);
    SetLine(op.BounceLines[1], {0.0, 0.3}, {1.0, 0.25}, 0.5, 0.0);
    Particle& p = OneParticle(P, M);
    const uint32_t before = op.Random.GetState();
    op.StepParticles();
    EXPECT_EQ(DrawsSince(before), 12);
    const Vec2d both = p.Position, bothV = p.Velocity;

    op.BounceLines[0].Enabled = 0;
    Particle& q = OneParticle(P, M);
    op.StepParticles();
    EXPECT_EQ(both.x, q.Position.x);
    EXPECT_EQ(both.y, q.Position.y);
    EXPECT_EQ(bothV.x, q.Velocity.x);
    EXPECT_EQ(bothV.y, q.Velocity.y);
    EXPECT_GT(q.Velocity.y, 0.0);  // it did bounce
}

TEST_F(MotionTest, BankingTurnsIntoTheDirectionOfMotion) {
    ParticleOperator& op = *h.Op;
    op.BankingEnabled = 1;
    struct Case {
        Vec2d v;
        double angle;
    } cases[] = {{{0.01, 0.0}, -2.0549663304336718e-08},
                 {{-0.01, 0.0}, -179.99999997945034},
                 {{0.0, 0.01}, -90.0}};
    for (const Case& c : cases) {
        Particle& p = OneParticle({0.5, 0.5}, c.v);
        p.Angle = 33.0;
        op.StepParticles();
        EXPECT_EQ(p.Angle, c.angle);
    }
    op.StartingAngle = 30.0;
    Particle& p = OneParticle({0.5, 0.5}, {0.0, 0.01});
    op.StepParticles();
    EXPECT_EQ(p.Angle, -60.0);
    Particle& still = OneParticle({0.5, 0.5}, {0.0, 0.0});
    still.Angle = 12.5;
    still.RotationSpeed = 4.0;
    op.StepParticles();
    EXPECT_EQ(still.Angle, 12.5);
}

TEST_F(MotionTest, AgeingRetiresAtTheTruncatedLifetime) {
    ParticleOperator& op = *h.Op;
    for (double lifetime : {30.0, 30.5}) {
        op.ClearParticles();
        op.Lifetime = lifetime;
        op.BirthParticle();
        const int lastFrame = lifetime == 30.0 ? 30 : 31;
        for (int frame = 1; frame < lastFrame; ++frame) {
            op.AgeParticles();
            ASSERT_EQ(op.LiveCount, 1) << lifetime << " frame " << frame;
        }
        EXPECT_EQ(op.LiveParticle(0).Age, lastFrame - 1.0);
        op.AgeParticles();
        EXPECT_EQ(op.LiveCount, 0) << lifetime;
    }
}

TEST_F(MotionTest, AgeingRetiresOldestFirstAndGivesBackImages) {
    ParticleOperator& op = *h.Op;
    op.ShapeCopy = new Image(2, 2);
    op.Lifetime = 3.0;
    op.BirthParticle();
    Image* oldest = op.LiveParticle(0).ShapeImage;
    oldest->AddRef();
    op.AgeParticles();
    op.BirthParticle();
    op.AgeParticles();
    op.AgeParticles();  // the first is 3 frames old, the second 2
    EXPECT_EQ(op.LiveCount, 1);
    EXPECT_EQ(op.LiveParticle(0).Age, 2.0);
    EXPECT_EQ(oldest->RefCount(), 1);
    oldest->Recycle();

    op.Lifetime = 0.0;  // retires even a particle born this frame
    op.BirthParticle();
    op.AgeParticles();
    EXPECT_EQ(op.LiveCount, 0);
}

TEST_F(MotionTest, ZeroTimeStepFreezesMotion) {
    ParticleOperator& op = *h.Op;
    op.SimStep = 0.0;
    SetLine(op.BounceLines[0], {0.0, 0.0}, {1.0, 0.5}, 1.0, 0.0);
    Particle& p = OneParticle({0.5, 0.25}, {0.1, -0.3});
    op.StepParticles();
    EXPECT_EQ(p.Position.x, 0.5);
    EXPECT_EQ(p.Position.y, 0.25);
    EXPECT_EQ(p.Velocity.x, 0.1);
}
