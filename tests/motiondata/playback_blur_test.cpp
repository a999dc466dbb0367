// Playback with motion blur on: every particle shown also gets where it stood
// one request frame earlier, on the line through its two records.
#include "motion_test_support.h"

using namespace mdtest;

namespace {

constexpr int32_t Frames = 3;
constexpr int32_t Live[Frames] = {4, 4, 3};
constexpr int32_t Retired[Frames] = {0, 1, 1};

}  // namespace

class PlaybackBlurTest : public MotionTest {};

TEST_F(PlaybackBlurTest, EarlierStatesLieOneRequestFrameBackAlongTheRecords) {
    MotionFileBuilder file(Frames);
    for (int k = 0; k < Frames; ++k) file.AddFrame(k, 50.0, Retired[k], Live[k]);
    WriteBytes(Path("m.lpd"), file.Data);
    Load(Path("m.lpd"), 0, 20);
    Op->Frame.Motion.Blur = 1;
    for (int reversed : {0, 1}) {
        Op->ReversePlayback = reversed;
        Op->ReadMotionFrame(7.0);
        const double pos = Op->Player.Position();
        const int k = int(pos);
        const double f = pos - k, back = (Frames - 1.01) / 20.0 * (reversed ? -1.0 : 1.0);
        const int32_t shared = Live[k] - Retired[k + 1];
        ASSERT_EQ(Op->Pool.LiveCount, shared);
        ASSERT_EQ(Op->Pool.Before.size(), std::size_t(PoolSize));
        for (int32_t i = 0; i < shared; ++i) {
            const Record a = MakeRecord(k, Retired[k + 1] + i), b = MakeRecord(k + 1, i);
            const ParticleBefore& e = Op->Pool.Before[std::size_t((Op->Pool.OldestIndex + i) % PoolSize)];
            const double g = f - back;  // the earlier fraction along a .. b
            EXPECT_NEAR(e.Position.x, (1 - g) * a.X + g * b.X, 1e-9) << "particle " << i;
            EXPECT_NEAR(e.Position.y, (1 - g) * a.Y + g * b.Y, 1e-9);
            EXPECT_NEAR(e.Angle, (1 - g) * a.Angle + g * b.Angle, 1e-9);
            EXPECT_NEAR(e.Age, (1 - g) * a.Age + g * b.Age, 1e-9);
            EXPECT_NEAR(e.Size, (1 - g) * a.Size + g * b.Size, 1e-9);
        }
    }
    Op->Frame.Motion.Blur = 0;
    Op->ReadMotionFrame(7.0);
    EXPECT_TRUE(Op->Pool.Before.empty());  // none kept with motion blur off
}
