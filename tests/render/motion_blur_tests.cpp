#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "render/motion_blur.h"
#include "render_fixture.h"

namespace {

constexpr HostPixel OpaqueBlack{0, 0, 0, 65535};

// One white 4 x 4 particle on a black 140 x 12 picture whose top-left pixel is
// at (60, 4), having moved 40 pixels to the right over the step, drawn with
// five draws over the shutter. Returns the first and one past the last
// column drawn on row 5.
struct Streak {
    int32_t First = -1, End = -1;
    HostPixel Left;  // the first column's pixel
};

// With a proxy divisor d the picture, the particle and its move are 1/d the size.
Streak DrawStreak(double angle, int32_t offset, double age = 10.0, double ageBefore = 9.0, double lifetime = 100.0,
                  int32_t d = 1) {
    RenderFixture f;
    f.Output(140 / d, 12 / d, OpaqueBlack);
    f.Op->Frame.AspectX = 140.0 / 12.0;
    f.Op->Frame.Lifetime = lifetime;
    if (d > 1) {
        f.Op->Frame.ProxyScaleX = f.Op->Frame.ProxyScaleY = 1.0 / d;
        f.Op->Shapes.AdoptProxyCopy(RenderFixture::Solid(4 / d, 4 / d, HostPixel{65535, 65535, 65535, 65535}));
    }
    Particle& p = f.Put(0, 60 / d, 4 / d, 4 / d, 4 / d, RenderFixture::Solid(4, 4, HostPixel{65535, 65535, 65535, 65535}), 1.0, age);
    p.Position.x *= f.Op->Frame.AspectX;
    f.Live(0, 1);
    f.Op->Frame.Motion = FrameSettings::Motions{};
    f.Op->Frame.Motion.Blur = 1;
    f.Op->Frame.Motion.ShutterAngle = angle;
    f.Op->Frame.Motion.ShutterOffset = offset;
    f.Op->Frame.Motion.Samples = 5;
    f.Op->Pool.Before.assign(PoolSize, ParticleBefore{});
    f.Op->Pool.Before[0] = ParticleBefore{p.Position - Vec2d(40.0 / 12.0, 0.0), p.Angle, ageBefore, p.Size};
    f.Composite();
    Streak s;
    for (int32_t x = 0; x < 140 / d; ++x) {
        const HostPixel px = f.At(x, 5 / d);
        if (px.R == 0) continue;
        if (s.First < 0) {
            s.First = x;
            s.Left = px;
        }
        s.End = x + 1;
    }
    return s;
}

}  // namespace

// The streak runs over the part of the step the shutter spans: 360 degrees is
// the whole 40-pixel move, 180 half of it, 720 two steps; it ends at the
// frame's own place (60), is centred on it or starts there. Each of the five
// draws adds a fifth of the white (premultiplied average), here where only one
// draw covers the pixel. A shutter of 0 draws the particle where it stands.
TEST(MotionBlur, StreakFollowsShutterAngleAndOffset) {
    struct Case {
        double Angle;
        int32_t Offset, First, End;
    };
    for (const Case& c : {Case{360, 2, 20, 64}, Case{360, 1, 40, 84}, Case{360, 0, 60, 104}, Case{180, 1, 50, 74},
                          Case{720, 1, 20, 104}, Case{0, 1, 60, 64}}) {
        const Streak s = DrawStreak(c.Angle, c.Offset);
        EXPECT_EQ(s.First, c.First) << c.Angle << " degrees, offset " << c.Offset;
        EXPECT_EQ(s.End, c.End) << c.Angle << " degrees, offset " << c.Offset;
    }
    // A proxy render at half size draws the streak at half its length.
    const Streak half = DrawStreak(360, 1, 10.0, 9.0, 100.0, 2);
    EXPECT_EQ(half.First, 20);
    EXPECT_EQ(half.End, 42);
    const Streak whole = DrawStreak(360, 2);
    EXPECT_EQ(whole.Left.R, (65535u * 65535u / 5u) >> 16);
    EXPECT_EQ(DrawStreak(0, 1).Left.R, (65535u * 65535u) >> 16);  // the plain blend of white
}

// A particle born half-way through the step (age 0.5 now, -0.5 before) shows
// over the second half of a shutter closing at the frame; one that retires at
// age 10 (9.5 now) shows over the first quarter of a shutter opening at the
// frame (the draws at ages 9.5 and 9.75 of 9.5 .. 10.5).
TEST(MotionBlur, ParticlesShowOnlyWhileTheyLive) {
    const Streak born = DrawStreak(360, 2, 0.5, -0.5);
    EXPECT_EQ(born.First, 40);
    EXPECT_EQ(born.End, 64);
    const Streak retiring = DrawStreak(360, 0, 9.5, 8.5, 10.0);
    EXPECT_EQ(retiring.First, 60);
    EXPECT_EQ(retiring.End, 74);
}

// Eight draws of one and the same state give the unblurred picture bit for
// bit, with fade, tint, merge and the spline; one draw is the unblurred path.
TEST(MotionBlur, DrawsOfOneStateEqualTheUnblurredPicture) {
    std::mt19937 rng(27);
    for (int32_t samples : {8, 1}) {
        RenderFixture f;
        Image* out = f.Output(64, 48, HostPixel{});
        for (int32_t i = 0; i < 64 * 48 * 4; ++i) out->Data()[i] = uint16_t(rng());
        const std::vector<uint16_t> background(out->Data(), out->Data() + 64 * 48 * 4);
        Image* shape = new Image(9, 7);
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 9; ++x)
                shape->SetPixel(x, y, HostPixel{uint32_t(rng() % 65536), uint32_t(rng() % 65536), uint32_t(rng() % 65536), uint32_t(rng() % 65536)});
        f.Op->Frame.AspectX = 64.0 / 48.0;
        f.Op->Frame.Look.Merge = 0.3;
        f.Op->Frame.Look.HighQuality = 1;
        f.Op->FadeEnabled = f.Op->TintEnabled = 1;
        Particle& p = f.Put(0, 20.3, 17.6, 9, 7, shape, 1.7, 40.0);
        p.Position.x *= f.Op->Frame.AspectX;
        p.Angle = 33.0;
        f.Live(0, 1);
        f.Composite();
        const std::vector<uint16_t> unblurred(out->Data(), out->Data() + background.size());
        EXPECT_NE(unblurred, background);
        std::copy(background.begin(), background.end(), out->Data());
        f.Op->Frame.Motion.Blur = 1;
        f.Op->Frame.Motion.Samples = samples;
        f.Op->Pool.Before.assign(PoolSize, ParticleBefore{p.Position, p.Angle, p.Age, p.Size});
        f.Composite();
        EXPECT_TRUE(std::equal(unblurred.begin(), unblurred.end(), out->Data())) << samples << " draws";
    }
}

// With Banking the angle is a direction: a particle turning from 179 to -179
// degrees turns 2 degrees over the shutter, not 358 back through 0. Without
// Banking the angle is its spin, which may well be 358 degrees a step.
TEST(MotionBlur, BankedDrawsTurnTheShortWay) {
    FrameLook look;
    look.MotionSamples = 5;
    look.ShutterOpen = 0.0;
    look.ShutterClose = 1.0;
    Particle p{};
    p.Age = 10.0;
    p.Angle = -179.0;
    const ParticleBefore before{p.Position, 179.0, 9.0, p.Size};
    for (bool banked : {true, false}) {
        look.AngleIsDirection = banked;
        Particle q;
        ASSERT_TRUE(SubFrameParticle(look, p, before, 2, q));
        EXPECT_DOUBLE_EQ(q.Angle, banked ? -180.0 : 0.0);
        ASSERT_TRUE(SubFrameParticle(look, p, before, 0, q));
        EXPECT_DOUBLE_EQ(q.Angle, banked ? -181.0 : 179.0);
    }
}
