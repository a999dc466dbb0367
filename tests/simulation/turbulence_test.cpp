// Wind and turbulence in the free step: the field's shape, the drift it gives
// the particles, and the same bits on one thread or two.
#include <cmath>
#include <vector>

#include "simulation/flow_field.h"
#include "sim_fixture.h"

// The field is divergence-free: its numerical divergence (central differences
// with a step of 1e-4 swirl sizes) stays below 1e-6 / scale while its partial
// derivatives themselves are of the order 1 / scale. It also changes with time
// and with the seed, and is zero where the place is not a number.
TEST(FlowFieldTest, IsDivergenceFreeAndDependsOnSeedAndTime) {
    const FlowField field(7), other(8);
    for (double scale : {0.05, 0.25, 2.0}) {
        const double h = 1e-4 * scale;
        double largestPartial = 0.0, largestDivergence = 0.0;
        for (int i = 0; i < 400; ++i) {
            const Vec2d p(-1.0 + 0.0137 * i, 0.3 - 0.0071 * i);
            const double t = 0.013 * i;
            const Vec2d right = field.Velocity({p.x + h, p.y}, t, scale), left = field.Velocity({p.x - h, p.y}, t, scale);
            const Vec2d up = field.Velocity({p.x, p.y + h}, t, scale), down = field.Velocity({p.x, p.y - h}, t, scale);
            const double dvx = (right.x - left.x) / (2 * h), dvy = (up.y - down.y) / (2 * h);
            largestPartial = std::max(largestPartial, std::fabs(dvx) * scale);
            largestDivergence = std::max(largestDivergence, std::fabs(dvx + dvy) * scale);
        }
        EXPECT_GT(largestPartial, 0.5) << scale;
        EXPECT_LT(largestDivergence, 1e-6) << scale;
    }
    const Vec2d p(0.4, 0.6);
    const Vec2d v = field.Velocity(p, 0.3, 0.25);
    EXPECT_GT(std::hypot(v.x, v.y), 1e-3);
    EXPECT_NE(v.x, other.Velocity(p, 0.3, 0.25).x);
    EXPECT_NE(v.x, field.Velocity(p, 0.8, 0.25).x);
    ExpectVec(field.Velocity({NAN, 0.5}, 0.3, 0.25), 0.0, 0.0);
}

class TurbulenceTest : public SimulationTest {};

// Wind carries a particle by wind x step on top of its own move, without
// becoming its velocity, and takes no draw from the tool's generator.
TEST_F(TurbulenceTest, WindMovesAParticleByItsVelocityTimesTheStep) {
    f.SimStep = 0.5;
    f.Motion.Wind = Vec2d(0.01, -0.02);
    Particle& p = OneParticle({0.5, 0.5}, {0.002, 0.0});
    const uint32_t before = random.GetState();
    for (int i = 0; i < 4; ++i) Step();
    EXPECT_EQ(DrawsSince(before), 24);
    EXPECT_NEAR(p.Position.x, 0.5 + 4 * (0.002 + 0.01) * 0.5, 1e-15);
    EXPECT_NEAR(p.Position.y, 0.5 + 4 * (0.0 - 0.02) * 0.5, 1e-15);
    ExpectVec(p.Velocity, 0.002, 0.0);

    // Against a wall of elasticity 0 the wind no longer pushes it through.
    FrameSettings::BounceLine& line = f.BounceLines[0];
    on.BounceLine[0] = true;
    line.Start = Vec2d(0.0, 0.45);
    line.End = Vec2d(1.0, 0.45 + 1e-6);
    line.Normal = Vec2d(-1e-6, 1.0);
    line.Elasticity = 0.0;
    f.Motion.Wind = Vec2d(0.0, -0.04);
    for (int i = 0; i < 6; ++i) Step();
    EXPECT_GT(p.Position.y, 0.44);
}

// Off (strength and wind 0) the step is bit for bit the step without the
// controls, whatever the other turbulence values; on, the flow moves the
// particles, and a step on the workers gives the same bits as on one thread.
TEST_F(TurbulenceTest, OffIsUnchangedAndOnIsTheSameOnOneThreadAndTwo) {
    auto run = [&](double turbulence, double scale, bool threads, uint32_t seed) {
        pool->Clear(true);
        random.Seed(1);
        f.Motion.Turbulence = turbulence;
        f.Motion.TurbulenceScale = scale;
        f.Motion.TurbulenceSpeed = 0.3;
        f.Tumble = 0.5;
        f.Birth.Speed = 0.01;
        f.Birth.Spread = 1.0;
        on.Attractor[0] = true;
        f.Attractors[0] = {Vec2d(0.6, 0.4), 0.001};
        runner.Threads = threads;
        for (int i = 0; i < 5000; ++i) Birth();
        for (int s = 0; s < 3; ++s) pool->Step(StepSettings::Take(f, on, seed), random, runner);
        std::vector<double> out;
        for (int32_t i = 0; i < pool->LiveCount; ++i) {
            const Particle& p = pool->Live(i);
            out.insert(out.end(), {p.Position.x, p.Position.y, p.Velocity.x, p.Velocity.y, p.Angle});
        }
        return out;
    };
    const std::vector<double> off = run(0.0, 0.25, false, 1);
    EXPECT_EQ(run(0.0, 3.0, true, 99), off);
    const std::vector<double> on1 = run(0.02, 0.25, false, 5);
    EXPECT_NE(on1, off);
    EXPECT_EQ(run(0.02, 0.25, true, 5), on1);
    EXPECT_NE(run(0.02, 0.25, false, 6), on1);
}
