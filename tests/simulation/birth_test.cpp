// Birth of particles and the ring of the particle pool.
#include <cmath>

#include "sim_fixture.h"

using BirthTest = SimulationTest;

TEST_F(BirthTest, FirstDrawPlacesTheBirthOnTheLineOrTheBirthPath) {
    f.Birth.StartPoint = Vec2d(0.75, 0.25);
    f.Birth.EndPoint = Vec2d(0.25, 0.5);
    auto birthWithFirstDraw = [&](int32_t r1) -> const Particle& {
        uint32_t s = 0;  // a generator state whose next draw is r1 (searched, not guessed)
        while (RandomSource(s).Next() != r1) ++s;
        random.Seed(s);
        Birth();
        return pool->Particles[pool->LiveCount - 1];
    };
    const Particle& low = birthWithFirstDraw(0);  // lowest draw: the end point
    ExpectPairs({{low.DeviationFactor, -0.9999999962747097}, {low.PreviousPosition.x, 0.25}, {low.PreviousPosition.y, 0.5}});
    const Particle& high = birthWithFirstDraw(32767);  // highest draw: the start point
    EXPECT_EQ(high.DeviationFactor, 1.00006103515625);
    EXPECT_DOUBLE_EQ(high.PreviousPosition.x, 0.75);
    EXPECT_DOUBLE_EQ(high.PreviousPosition.y, 0.25);
    // Birth path not built yet: the fixed point (0.1, 0.1), moved to the image.
    births.UseBirthSpline = 1;
    ExpectVec(birthWithFirstDraw(0).PreviousPosition, (double(0.1f) + 0.5) * 1.25, double(0.1f) + 0.5);
    PolyLine* line = new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, -0.125f}}, false);
    f.Birth.BirthPath.BuildFromPolyLine(line);
    line->Recycle();
    ExpectVec(birthWithFirstDraw(32767).PreviousPosition, 0.75 * 1.25, 0.375);
}

TEST_F(BirthTest, EveryBirthTakesFourteenDrawsAndKeepsItsFieldsInRange) {
    for (int i = 0; i < 2000; ++i) {
        births.UseBirthSpline = births.Scale = i % 2;
        const uint32_t before = random.GetState();
        Birth();
        ASSERT_EQ(DrawsSince(before), 14) << i;
        const Particle& p = pool->Live(i);
        EXPECT_TRUE(p.DeviationFactor >= -1.0 && p.DeviationFactor <= 1.00006103515625) << i;
        EXPECT_TRUE(p.PathAgeOffset > 0.0 && p.PathAgeOffset <= 1.0) << i;
        EXPECT_TRUE(p.PathSpeedFactor >= 0.0 && p.PathSpeedFactor <= 1.0) << i;
    }
}

TEST_F(BirthTest, LaunchAlongOrientationSpreadOverTheTimeStepAndClampedSize) {
    f.Birth.Speed = 0.02;
    f.Birth.Orientation = 90.0;
    f.SimStep = f.Birth.GeneralSize = 0.0;
    births.Scale = 1;
    Birth();
    const Particle& p = pool->Particles[0];
    const double k = 0.017452006980802792;
    ExpectVec(p.Velocity, std::cos(90.0 * k) * 0.02, -(std::sin(90.0 * k) * 0.02));
    ExpectPairs({{p.Position.x, p.PreviousPosition.x}, {p.Age, 0.0}, {p.Size, 0.1}});  // no step, no advance
    f.Birth.Orientation = 0.0;
    f.SimStep = 1.0;
    f.Birth.StartPoint = f.Birth.EndPoint = Vec2d(0.5, 0.5);
    Birth();
    const Particle& q = pool->Particles[1];
    EXPECT_TRUE(q.PreviousPosition.x == 0.5 && q.Position.x >= 0.5 && q.Position.x <= 0.52) << q.Position.x;
    births.Scale = 0;  // the size is only used with scaling on
    f.Birth.GeneralSize = f.Birth.SizeVariance = 3.0;
    Birth();
    EXPECT_EQ(pool->Particles[2].Size, 1.0);
}

TEST_F(BirthTest, FullRingRetiresTheOldestAndGivesBackItsImage) {
    shape = new Image(2, 2);
    Birth();
    Image* first = pool->Particles[0].ShapeImage;
    ASSERT_TRUE(first != nullptr && first != shape);
    first->AddRef();  // keep it alive to see the particle let go of it
    for (int i = 1; i < PoolSize; ++i) Birth();
    ExpectPairs({{pool->LiveCount, PoolSize - 1}, {pool->OldestIndex, 1}, {pool->NextIndex, 0}, {first->RefCount(), 1}});
    EXPECT_TRUE(pool->Particles[0].ShapeImage == nullptr && pool->Particles[1].ShapeImage != nullptr);
    first->Recycle();
    Birth();  // writes slot 0 and retires slot 1
    ExpectPairs({{pool->LiveCount, PoolSize - 1}, {pool->OldestIndex, 2}, {pool->NextIndex, 1}});
}

TEST_F(BirthTest, ClearRetiresAllAndResetsTheAccumulator) {
    shape = new Image(2, 2);
    pool->BirthAccumulator = 0.75;
    pool->Clear(true);  // empty pool: only the accumulator
    EXPECT_EQ(pool->BirthAccumulator, 0.0);
    for (int i = 0; i < 5; ++i) Birth();
    Image* img = pool->Live(2).ShapeImage;
    img->AddRef();
    pool->BirthAccumulator = 0.5;
    pool->Clear(true);
    ExpectPairs({{pool->LiveCount, 0}, {pool->OldestIndex, pool->NextIndex}, {pool->BirthAccumulator, 0.0}, {img->RefCount(), 1}});
    // Particles of loaded motion data share no image of their own: nothing is released.
    pool->NextIndex = pool->LiveCount = 3;
    pool->OldestIndex = 0;
    pool->Particles[1].ShapeImage = img;
    pool->Clear(false);
    ExpectPairs({{pool->LiveCount, 0}, {img->RefCount(), 1}});
    EXPECT_EQ(pool->Particles[1].ShapeImage, nullptr);
    img->Recycle();
}
