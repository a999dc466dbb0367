// Ageing and the free step: forces, jitter draws, bounce lines, rotation, banking.
#include <cmath>
#include <cstring>
#include <vector>

#include "sim_fixture.h"

class MotionTest : public SimulationTest {
protected:
    // Bounce line k from S to Q as the frame settings leave it (normal included).
    void SetLine(int k, Vec2d s, Vec2d q, double elasticity, double roughness = 0.0) {
        FrameSettings::BounceLine& line = f.BounceLines[k];
        Vec2d n = q - s;
        n.Perpendicular();
        n.Normalize();
        on.BounceLine[k] = true;
        line.Start = s;
        line.End = q;
        line.Normal = n;
        line.Elasticity = elasticity;
        line.Roughness = roughness;
    }
    // Steps one particle from P with velocity M; returns the draws the step took.
    int StepOne(Vec2d P, Vec2d M) {
        OneParticle(P, M);
        const uint32_t before = random.GetState();
        Step();
        return DrawsSince(before);
    }
    const Particle& First() { return pool->Particles[0]; }
};

TEST_F(MotionTest, WithoutForcesParticlesFlyStraightAndTakeSixDrawsEach) {
    for (int i = 0; i < 3; ++i) Birth();
    for (int i = 0; i < 3; ++i) pool->Live(i).Velocity = Vec2d(0.01 * (i + 1), -0.005);
    const Vec2d start = pool->Live(2).Position;
    const uint32_t before = random.GetState();
    Step();
    Step();
    EXPECT_EQ(DrawsSince(before), 36);
    const Particle& p = pool->Live(2);
    ExpectVec(p.Position, start.x + 0.03 + 0.03, start.y - 0.005 - 0.005);
    ExpectPairs({{p.Velocity.x, 0.03}, {p.PreviousPosition.x, p.Position.x}});
}

TEST_F(MotionTest, GravityRotationAndAttractorsActPerTimeStep) {
    f.GravityVector = Vec2d(0.0, 2.0);
    f.SimStep = 0.5;
    Particle& p = OneParticle({0.5, 0.5}, {0.0, 0.0});
    p.RotationSpeed = 10.0;
    p.Angle = 5.0;
    Step();
    ExpectPairs({{p.Velocity.y, 0.01}, {p.Angle, 10.0}});  // G / 100 * step
    EXPECT_DOUBLE_EQ(p.Position.y, 0.505);                  // velocity * step

    // Attractors pull with the inverse distance; one exactly at the particle has no
    // direction and leaves it alone; a deflector of equal strength cancels the pull.
    f.GravityVector = Vec2d();
    f.SimStep = 1.0;
    on.Attractor[0] = on.Attractor[1] = 1;
    f.Attractors[0].Position = Vec2d(0.5, 0.5);
    f.Attractors[0].Strength = 0.002;
    f.Attractors[1].Position = Vec2d(0.75, 0.5);
    f.Attractors[1].Strength = 0.001;
    StepOne({0.5, 0.5}, {0.0, 0.0});
    EXPECT_DOUBLE_EQ(First().Velocity.x, 0.001 / 0.25);
    EXPECT_EQ(First().Velocity.y, 0.0);
    f.Attractors[1].Position = Vec2d(0.5, 0.5);
    f.Attractors[1].Strength = -0.002;
    StepOne({0.25, 0.5}, {0.0, 0.0});
    EXPECT_NEAR(First().Velocity.x, 0.0, 1e-18);
    on.Attractor[1] = 0;
    StepOne({0.25, 0.5}, {0.0, 0.0});
    EXPECT_DOUBLE_EQ(First().Velocity.x, 0.002 / 0.25);

    // Jitter: at most 65536 * 1e-6 * Tumble in either direction.
    on.Attractor[0] = 0;
    f.Tumble = 1000.0;
    StepOne({0.5, 0.5}, {0.0, 0.0});
    const Vec2d v = First().Velocity;
    EXPECT_TRUE(std::fabs(v.x) <= 65.536 && std::fabs(v.y) <= 65.536 && (v.x != 0.0 || v.y != 0.0));
}

TEST_F(MotionTest, StraightBounceReflectsByElasticityAndRoughStaysOnItsSide) {
    const Vec2d P(0.4 + 0.06, -0.3 + 0.08);  // 0.1 before the line, whose normal is (0.6, 0.8)
    for (double e : {1.0, 0.0}) {
        SetLine(0, {0.0, 0.0}, {0.8, -0.6}, e);
        EXPECT_EQ(StepOne(P, {-0.12, -0.16}), 9);  // 0.2 straight at it
        const Particle& p = First();
        EXPECT_NEAR(p.Velocity.x, 0.12 * e, 1e-16) << e;
        EXPECT_NEAR(p.Velocity.y, 0.16 * e, 1e-16) << e;
        // u = 0.5: elastic, back as far before the line as it would have gone
        // beyond; without elasticity, stopped on it.
        EXPECT_NEAR(p.Position.x, e == 1.0 ? P.x : 0.4, 1e-15) << e;
        EXPECT_NEAR(p.Position.y, e == 1.0 ? P.y : -0.3, 1e-15) << e;
    }
    SetLine(0, {0.0, 0.0}, {0.8, -0.6}, 1.0, 50.0);
    for (int i = 0; i < 200; ++i) {
        StepOne({0.46, -0.22}, {-0.12 + 0.0004 * i, -0.3});
        ASSERT_GE(ScalarProduct(First().Position, f.BounceLines[0].Normal), -1e-15) << i;
    }
}

TEST_F(MotionTest, MovesTouchingTheLineOnlyAtTheirEndsOrItsEndsAreNoHit) {
    // The line y = x / 2 from (0, 0) to (1, 0.5); every u and w below is exact.
    SetLine(0, {0.0, 0.0}, {1.0, 0.5}, 1.0);
    const struct {
        Vec2d P, M;
        bool hit;
    } cases[] = {
        {{0.5, 0.25}, {0.0, -0.5}, false},  // starts on the line: u = 0
        {{0.5, 0.75}, {0.0, -0.5}, false},  // ends on the line: u = 1
        {{0.0, 0.5}, {0.0, -1.0}, false},   // meets it at its start: w = 0
        {{1.0, 1.0}, {0.0, -1.0}, false},   // meets it at its end: w = 1
        {{0.5, 0.75}, {0.0, -0.75}, true},  // crosses it inside
        {{0.5, 0.0}, {0.0, 0.5}, true},     // crosses it from the other side
        {{0.5, 1.0}, {0.0, -0.5}, false},   // stops short of it: u = 1.5
        {{0.5, 0.75}, {0.0, 0.5}, false},   // moves away from it: u = -1
        {{0.2, 0.3}, {0.2, 0.1}, false},    // parallel
        {{0.5, 0.25}, {0.0, 0.0}, false},   // no move at all, on the line
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.P.x << "," << c.P.y << " + " << c.M.x << "," << c.M.y);
        EXPECT_EQ(StepOne(c.P, c.M), c.hit ? 9 : 6);
        if (!c.hit) ExpectVec(First().Position, c.P.x + c.M.x, c.P.y + c.M.y);
    }
}

TEST_F(MotionTest, BothLinesCrossedLeaveLineTwosOutcome) {
    const Vec2d P(0.5, 0.8), M(0.0, -0.6);
    SetLine(0, {0.0, 0.4}, {1.0, 0.6}, 1.0);
    SetLine(1, {0.0, 0.3}, {1.0, 0.25}, 0.5);
    EXPECT_EQ(StepOne(P, M), 12);
    const Particle both = First();
    on.BounceLine[0] = false;
    StepOne(P, M);
    ExpectVec(both.Position, First().Position.x, First().Position.y);
    ExpectVec(both.Velocity, First().Velocity.x, First().Velocity.y);
    EXPECT_GT(both.Velocity.y, 0.0);  // it did bounce
}

TEST_F(MotionTest, BankingTurnsIntoTheDirectionOfMotion) {
    on.Banking = 1;
    const struct {
        Vec2d v;
        double start, angle;
    } cases[] = {{{0.01, 0.0}, 0.0, -2.0549663304336718e-08}, {{-0.01, 0.0}, 0.0, -179.99999997945034},
                 {{0.0, 0.01}, 0.0, -90.0}, {{0.0, 0.01}, 30.0, -60.0},
                 {{0.0, 0.0}, 30.0, 12.5}};  // standing still keeps its angle, no rotation
    for (const auto& c : cases) {
        f.Birth.StartingAngle = c.start;
        Particle& p = OneParticle({0.5, 0.5}, c.v);
        p.Angle = 12.5;
        p.RotationSpeed = 4.0;
        Step();
        EXPECT_EQ(p.Angle, c.angle) << c.v.x << "," << c.v.y << " from " << c.start;
    }
}

TEST_F(MotionTest, AgeingRetiresOldestFirstAtTheTruncatedLifetime) {
    // Rows: lifetime, time step, ageing calls that retire the particle; at half
    // steps an age of 30.5 is still short of the lifetime 30.5 once truncated.
    const double rows[][3] = {{30.0, 1.0, 30}, {30.5, 1.0, 31}, {30.5, 0.5, 62}};
    for (const auto& [lifetime, step, calls] : rows) {
        pool->Clear(true);
        f.Lifetime = lifetime;
        f.SimStep = step;
        Birth();
        for (int call = 1; call < calls; ++call) {
            Age();
            ASSERT_EQ(pool->LiveCount, 1) << lifetime << " step " << step << " call " << call;
        }
        EXPECT_EQ(pool->Live(0).Age, (calls - 1) * step);
        Age();
        EXPECT_EQ(pool->LiveCount, 0) << lifetime << " step " << step;
    }
    f.SimStep = 1.0;
    shape = new Image(2, 2);
    f.Lifetime = 3.0;
    Birth();
    Image* oldest = pool->Live(0).ShapeImage;
    oldest->AddRef();
    Age();
    Birth();
    Age();
    Age();  // the first is 3 frames old, the second 2
    ExpectPairs({{pool->LiveCount, 1}, {pool->Live(0).Age, 2.0}, {oldest->RefCount(), 1}});
    oldest->Recycle();
    f.Lifetime = 0.0;  // retires even a particle born this frame
    Birth();
    Age();
    EXPECT_EQ(pool->LiveCount, 0);
}

// A full pool is stepped on the workers (pulls, moves in pool order with their
// draws, turns, chunk by chunk): every particle and the random state end as
// the particle-by-particle step leaves them, at any thread count, with banking
// and without, starting anywhere on the ring.
TEST_F(MotionTest, LargePoolsStepInStagesToTheSameBits) {
    f.Tumble = 5.0;
    f.Birth.Speed = 0.01;
    f.Birth.Spread = 1.0;
    f.Birth.SpeedVariance = 0.5;
    f.Birth.RotationSpeed = 2.0;
    f.GravityVector = Vec2d(0.0, 0.2);
    f.Birth.StartPoint = Vec2d(0.1, 0.5);
    f.Birth.EndPoint = Vec2d(1.15, 0.5);
    on.Attractor[0] = 1;
    f.Attractors[0].Position = Vec2d(0.4, 0.3);
    f.Attractors[0].Strength = 0.002;
    on.Attractor[1] = 1;
    f.Attractors[1].Position = Vec2d(0.9, 0.7);
    f.Attractors[1].Strength = -0.001;
    SetLine(0, {0.0, 0.52}, {1.25, 0.53}, 0.8, 0.3);
    SetLine(1, {0.0, 0.48}, {1.25, 0.47}, 0.6);
    pool->OldestIndex = pool->NextIndex = PoolSize - 700;  // the live run wraps past the last slot
    for (int i = 0; i < 9000; ++i) Birth();
    const std::vector<Particle> start(pool->Particles, pool->Particles + PoolSize);
    const uint32_t seed = random.GetState();
    for (int banking : {1, 0}) {
        on.Banking = banking;
        std::vector<Particle> want = start;
        RandomSource reference(seed);
        const StepSettings s = StepSettings::Take(f, on);
        for (int32_t i = 0; i < pool->LiveCount; ++i)
            FreeStepWith(s, reference, want[std::size_t((pool->OldestIndex + i) % PoolSize)]);
        for (bool threads : {false, true}) {
            runner.Threads = threads;
            std::copy(start.begin(), start.end(), pool->Particles);
            random.Seed(seed);
            Step();
            EXPECT_EQ(random.GetState(), reference.GetState()) << banking << threads;
            EXPECT_EQ(std::memcmp(pool->Particles, want.data(), sizeof(Particle) * PoolSize), 0) << banking << threads;
        }
    }
}
