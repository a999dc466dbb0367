// Birth of particles and the ring of the particle pool.
#include <cmath>

#include "sim_fixture.h"

using BirthTest = SimulationTest;

TEST_F(BirthTest, FirstDrawPlacesTheBirthOnTheLineOrTheBirthPath) {
    ParticleOperator& op = *h.Op;
    op.StartPoint = Vec2d(0.75, 0.25);
    op.EndPoint = Vec2d(0.25, 0.5);
    auto birthWithFirstDraw = [&](int32_t r1) -> const Particle& {
        uint32_t s = 0;  // a generator state whose next draw is r1 (searched, not guessed)
        while (RandomSource(s).Next() != r1) ++s;
        op.Random.Seed(s);
        op.BirthParticle();
        return op.Particles[op.LiveCount - 1];
    };
    const Particle& low = birthWithFirstDraw(0);  // lowest draw: the end point
    ExpectPairs({{low.DeviationFactor, -0.9999999962747097}, {low.PreviousPosition.x, 0.25}, {low.PreviousPosition.y, 0.5}});
    const Particle& high = birthWithFirstDraw(32767);  // highest draw: the start point
    EXPECT_EQ(high.DeviationFactor, 1.00006103515625);
    EXPECT_DOUBLE_EQ(high.PreviousPosition.x, 0.75);
    EXPECT_DOUBLE_EQ(high.PreviousPosition.y, 0.25);
    // Birth path not built yet: the fixed point (0.1, 0.1), moved to the image.
    op.UseBirthSpline = 1;
    ExpectVec(birthWithFirstDraw(0).PreviousPosition, (double(0.1f) + 0.5) * 1.25, double(0.1f) + 0.5);
    PolyLine* line = new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, -0.125f}}, false);
    op.BirthPath.BuildFromPolyLine(line);
    line->Recycle();
    ExpectVec(birthWithFirstDraw(32767).PreviousPosition, 0.75 * 1.25, 0.375);
}

TEST_F(BirthTest, EveryBirthTakesFourteenDrawsAndKeepsItsFieldsInRange) {
    ParticleOperator& op = *h.Op;
    for (int i = 0; i < 2000; ++i) {
        op.UseBirthSpline = op.ScaleEnabled = i % 2;
        const uint32_t before = op.Random.GetState();
        op.BirthParticle();
        ASSERT_EQ(DrawsSince(before), 14) << i;
        const Particle& p = op.LiveParticle(i);
        EXPECT_TRUE(p.DeviationFactor >= -1.0 && p.DeviationFactor <= 1.00006103515625) << i;
        EXPECT_TRUE(p.PathAgeOffset > 0.0 && p.PathAgeOffset <= 1.0) << i;
        EXPECT_TRUE(p.PathSpeedFactor >= 0.0 && p.PathSpeedFactor <= 1.0) << i;
    }
}

TEST_F(BirthTest, LaunchAlongOrientationSpreadOverTheTimeStepAndClampedSize) {
    ParticleOperator& op = *h.Op;
    op.Speed = 0.02;
    op.Orientation = 90.0;
    op.SimStep = op.GeneralSize = 0.0;
    op.ScaleEnabled = 1;
    op.BirthParticle();
    const Particle& p = op.Particles[0];
    const double k = 0.017452006980802792;
    ExpectVec(p.Velocity, std::cos(90.0 * k) * 0.02, -(std::sin(90.0 * k) * 0.02));
    ExpectPairs({{p.Position.x, p.PreviousPosition.x}, {p.Age, 0.0}, {p.Size, 0.1}});  // no step, no advance
    op.Orientation = 0.0;
    op.SimStep = 1.0;
    op.StartPoint = op.EndPoint = Vec2d(0.5, 0.5);
    op.BirthParticle();
    const Particle& q = op.Particles[1];
    EXPECT_TRUE(q.PreviousPosition.x == 0.5 && q.Position.x >= 0.5 && q.Position.x <= 0.52) << q.Position.x;
    op.ScaleEnabled = 0;  // the size is only used with scaling on
    op.GeneralSize = op.SizeVariance = 3.0;
    op.BirthParticle();
    EXPECT_EQ(op.Particles[2].Size, 1.0);
}

TEST_F(BirthTest, FullRingRetiresTheOldestAndGivesBackItsImage) {
    ParticleOperator& op = *h.Op;
    Image* shape = new Image(2, 2);
    op.Shapes.AdoptCopy(shape);  // the tool owns its shape copy from here
    op.BirthParticle();
    Image* first = op.Particles[0].ShapeImage;
    ASSERT_TRUE(first != nullptr && first != shape);
    first->AddRef();  // keep it alive to see the particle let go of it
    for (int i = 1; i < PoolSize; ++i) op.BirthParticle();
    ExpectPairs({{op.LiveCount, PoolSize - 1}, {op.OldestIndex, 1}, {op.NextIndex, 0}, {first->RefCount(), 1}});
    EXPECT_TRUE(op.Particles[0].ShapeImage == nullptr && op.Particles[1].ShapeImage != nullptr);
    first->Recycle();
    op.BirthParticle();  // writes slot 0 and retires slot 1
    ExpectPairs({{op.LiveCount, PoolSize - 1}, {op.OldestIndex, 2}, {op.NextIndex, 1}});
}

TEST_F(BirthTest, ClearParticlesRetiresAllAndResetsTheAccumulator) {
    ParticleOperator& op = *h.Op;
    op.Shapes.AdoptCopy(new Image(2, 2));
    op.BirthAccumulator = 0.75;
    op.ClearParticles();  // empty pool: only the accumulator
    EXPECT_EQ(op.BirthAccumulator, 0.0);
    for (int i = 0; i < 5; ++i) op.BirthParticle();
    Image* img = op.LiveParticle(2).ShapeImage;
    img->AddRef();
    op.BirthAccumulator = 0.5;
    op.ClearParticles();
    ExpectPairs({{op.LiveCount, 0}, {op.OldestIndex, op.NextIndex}, {op.BirthAccumulator, 0.0}, {img->RefCount(), 1}});
    // Particles of loaded motion data share no image of their own: nothing is released.
    op.NextIndex = op.LiveCount = 3;
    op.OldestIndex = 0;
    op.Particles[1].ShapeImage = img;
    op.SystemLoaded = 1;
    op.ClearParticles();
    op.SystemLoaded = 0;
    ExpectPairs({{op.LiveCount, 0}, {img->RefCount(), 1}});
    EXPECT_EQ(op.Particles[1].ShapeImage, nullptr);
    img->Recycle();
}
