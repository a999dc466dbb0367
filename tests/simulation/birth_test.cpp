// Birth of particles and the ring of the particle pool.
#include <cmath>

#include "sim_fixture.h"

namespace {

// A generator state whose next draw is `value` (searched, not guessed).
uint32_t SeedForFirstDraw(int32_t value) {
    for (uint32_t s = 0;; ++s) {
        RandomSource r(s);
        if (r.Next() == value) return s;
    }
}

}  // namespace

using BirthTest = SimulationTest;

TEST_F(BirthTest, LowestFirstDrawBornAtEndPoint) {
    ParticleOperator& op = *h.Op;
    op.StartPoint = Vec2d(0.75, 0.25);
    op.EndPoint = Vec2d(0.25, 0.5);
    op.Random.Seed(SeedForFirstDraw(0));
    op.BirthParticle();
    const Particle& p = op.Particles[0];
    EXPECT_EQ(p.DeviationFactor, -0.9999999962747097);
    EXPECT_EQ(p.PreviousPosition.x, 0.25);
    EXPECT_EQ(p.PreviousPosition.y, 0.5);
}

TEST_F(BirthTest, HighestFirstDrawBornAtStartPoint) {
    ParticleOperator& op = *h.Op;
    op.StartPoint = Vec2d(0.75, 0.25);
    op.EndPoint = Vec2d(0.25, 0.5);
    op.Random.Seed(SeedForFirstDraw(32767));
    op.BirthParticle();
    const Particle& p = op.Particles[0];
    EXPECT_EQ(p.DeviationFactor, 1.00006103515625);
    EXPECT_DOUBLE_EQ(p.PreviousPosition.x, 0.75);
    EXPECT_DOUBLE_EQ(p.PreviousPosition.y, 0.25);
}

TEST_F(BirthTest, BirthSplineParameterFollowsTheFirstDraw) {
    ParticleOperator& op = *h.Op;
    op.UseBirthSpline = 1;
    // No birth path built yet: the fixed point (0.1, 0.1), moved to the image.
    op.Random.Seed(SeedForFirstDraw(0));
    op.BirthParticle();
    EXPECT_EQ(op.Particles[0].PreviousPosition.x, (double(0.1f) + 0.5) * 1.25);
    EXPECT_EQ(op.Particles[0].PreviousPosition.y, (double(0.1f) + 0.5) * 1.0);

    PolyLine* line = new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, -0.125f}}, false);
    op.BirthPath.BuildFromPolyLine(line);
    line->Recycle();
    op.Random.Seed(SeedForFirstDraw(32767));
    op.BirthParticle();
    EXPECT_EQ(op.Particles[1].PreviousPosition.x, 0.75 * 1.25);
    EXPECT_EQ(op.Particles[1].PreviousPosition.y, 0.375);
}

TEST_F(BirthTest, EveryBirthTakesFourteenDraws) {
    ParticleOperator& op = *h.Op;
    for (int spline = 0; spline < 2; ++spline) {
        op.UseBirthSpline = spline;
        op.ScaleEnabled = spline;
        const uint32_t before = op.Random.GetState();
        op.BirthParticle();
        RandomSource independent(before);
        for (int i = 0; i < 14; ++i) independent.Next();
        EXPECT_EQ(op.Random.GetState(), independent.GetState());
    }
}

TEST_F(BirthTest, LaunchVelocityWithoutSpreadIsTheSpeedAlongOrientation) {
    ParticleOperator& op = *h.Op;
    op.Speed = 0.02;
    op.Orientation = 90.0;
    op.SimStep = 0.0;
    op.BirthParticle();
    const Particle& p = op.Particles[0];
    EXPECT_EQ(p.Velocity.x, std::cos(90.0 * 0.017452006980802792) * 0.02);
    EXPECT_EQ(p.Velocity.y, -(std::sin(90.0 * 0.017452006980802792) * 0.02));
    EXPECT_LT(p.Velocity.y, 0.0);
    EXPECT_EQ(p.Position.x, p.PreviousPosition.x);  // no time step, no advance
}

TEST_F(BirthTest, NewbornsSpreadOverTheFramesTimeStep) {
    ParticleOperator& op = *h.Op;
    op.Speed = 0.02;
    op.SimStep = 1.0;
    op.StartPoint = op.EndPoint = Vec2d(0.5, 0.5);
    op.BirthParticle();
    const Particle& p = op.Particles[0];
    EXPECT_EQ(p.PreviousPosition.x, 0.5);
    EXPECT_GE(p.Position.x, 0.5);
    EXPECT_LE(p.Position.x, 0.52);
    EXPECT_EQ(p.Age, 0.0);
}

TEST_F(BirthTest, SizeIsClampedAndOnlyUsedWithScaleEnabled) {
    ParticleOperator& op = *h.Op;
    op.GeneralSize = 0.0;
    op.ScaleEnabled = 1;
    op.BirthParticle();
    EXPECT_EQ(op.Particles[0].Size, 0.1);
    op.ScaleEnabled = 0;
    op.GeneralSize = 3.0;
    op.SizeVariance = 1.0;
    op.BirthParticle();
    EXPECT_EQ(op.Particles[1].Size, 1.0);
}

TEST_F(BirthTest, RandomFieldsStayInTheirRanges) {
    ParticleOperator& op = *h.Op;
    for (int i = 0; i < 2000; ++i) op.BirthParticle();
    for (int i = 0; i < op.LiveCount; ++i) {
        const Particle& p = op.LiveParticle(i);
        EXPECT_GE(p.DeviationFactor, -1.0);
        EXPECT_LE(p.DeviationFactor, 1.00006103515625);
        EXPECT_GT(p.PathAgeOffset, 0.0);
        EXPECT_LE(p.PathAgeOffset, 1.0);
        EXPECT_GE(p.PathSpeedFactor, 0.0);
        EXPECT_LE(p.PathSpeedFactor, 1.0);
    }
}

TEST_F(BirthTest, FullRingRetiresTheOldestAndGivesBackItsImage) {
    ParticleOperator& op = *h.Op;
    Image* shape = new Image(2, 2);
    op.ShapeCopy = shape;  // the tool owns its shape copy from here
    op.BirthParticle();
    Image* first = op.Particles[0].ShapeImage;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first, shape);
    first->AddRef();  // keep it alive to see the particle let go of it
    EXPECT_EQ(first->RefCount(), 2);
    for (int i = 1; i < PoolSize; ++i) op.BirthParticle();
    EXPECT_EQ(op.LiveCount, PoolSize - 1);
    EXPECT_EQ(op.OldestIndex, 1);
    EXPECT_EQ(op.NextIndex, 0);
    EXPECT_EQ(op.Particles[0].ShapeImage, nullptr);
    EXPECT_EQ(first->RefCount(), 1);
    first->Recycle();
    EXPECT_NE(op.Particles[1].ShapeImage, nullptr);

    // One more birth writes slot 0 and retires slot 1.
    op.BirthParticle();
    EXPECT_EQ(op.LiveCount, PoolSize - 1);
    EXPECT_EQ(op.OldestIndex, 2);
    EXPECT_EQ(op.NextIndex, 1);
}

TEST_F(BirthTest, WithoutShapeCopyParticleHasNoImage) {
    ParticleOperator& op = *h.Op;
    ASSERT_EQ(op.ShapeCopy, nullptr);
    op.BirthParticle();
    EXPECT_EQ(op.Particles[0].ShapeImage, nullptr);
    EXPECT_EQ(op.LiveCount, 1);
    op.RetireOldest();
    EXPECT_EQ(op.LiveCount, 0);
}

TEST_F(BirthTest, ClearParticlesRetiresAllAndResetsTheAccumulator) {
    ParticleOperator& op = *h.Op;
    op.ShapeCopy = new Image(2, 2);
    op.BirthAccumulator = 0.75;
    op.ClearParticles();  // empty pool: only the accumulator
    EXPECT_EQ(op.BirthAccumulator, 0.0);

    for (int i = 0; i < 5; ++i) op.BirthParticle();
    Image* img = op.LiveParticle(2).ShapeImage;
    img->AddRef();
    op.BirthAccumulator = 0.5;
    op.ClearParticles();
    EXPECT_EQ(op.LiveCount, 0);
    EXPECT_EQ(op.OldestIndex, op.NextIndex);
    EXPECT_EQ(op.BirthAccumulator, 0.0);
    EXPECT_EQ(img->RefCount(), 1);
    img->Recycle();
}

TEST_F(BirthTest, ClearParticlesOfLoadedSystemReleasesNothing) {
    ParticleOperator& op = *h.Op;
    // Particles of loaded motion data share no image of their own.
    Image* shared = new Image(2, 2);
    op.OldestIndex = 0;
    op.NextIndex = 3;
    op.LiveCount = 3;
    for (int i = 0; i < 3; ++i) op.Particles[i].ShapeImage = i == 1 ? shared : nullptr;
    op.SystemLoaded = 1;
    op.ClearParticles();
    op.SystemLoaded = 0;
    EXPECT_EQ(op.LiveCount, 0);
    EXPECT_EQ(shared->RefCount(), 1);
    EXPECT_EQ(op.Particles[1].ShapeImage, nullptr);
    shared->Recycle();
}
