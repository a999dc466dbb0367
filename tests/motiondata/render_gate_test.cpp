// The buttons that free shapes, close files or empty the pool wait for a running
// frame: pressing them while another thread renders never overlaps a frame.
#include <atomic>
#include <thread>

#include "motion_test_support.h"

using namespace mdtest;

using RenderGateTest = MotionTest;

TEST_F(RenderGateTest, ButtonsPressedDuringRendersKeepTheToolWhole) {
    MotionFileBuilder f(3);
    for (int k = 0; k < 3; ++k) f.AddFrame(k, 10.0, 0, MakeFrame(k, 50));
    WriteFile(Path("three.lpd"), f.Data);
    H->SetNumber(Op->InBirthrate, 20);
    H->SetNumber(Op->InImageStartFrame, 0);
    H->SetNumber(Op->InImageLastFrame, 3);
    H->Request_(0);

    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread renderer([&] {
        for (int i = 0; !stop; ++i) {
            Request req(Op, double(i % 4), 0);
            Op->Process(&req);
            if (Image* img = req.TakeOutput(Op->OutImage)) img->Recycle();
            ++frames;
        }
    });
    for (int round = 0; round < 40; ++round) {
        H->Press(Op->InPreloadShapes);
        platform::Default().QueueDialogAnswer(Path("three.lpd"));
        H->Press(Op->InLoadSystem);
        std::this_thread::yield();
        H->Press(Op->InDeletePreloaded);
        H->Press(Op->InUnloadSystem);
        Op->OnEndRender();
    }
    // Let the renderer make a few frames after the last press.
    const int seen = frames;
    while (frames < seen + 3) std::this_thread::yield();
    stop = true;
    renderer.join();
    while (H->TheFlow.Port().GetMsg()) {
    }
    EXPECT_EQ(Op->SystemLoaded, 0);
    EXPECT_EQ(Op->PlaybackFile, platform::NoFile);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 0);
    EXPECT_EQ(Op->PreloadCapturing, 0);
    EXPECT_GE(frames.load(), 3);
    EXPECT_GE(Op->LiveCount, 0);
    EXPECT_LT(Op->LiveCount, PoolSize);
}
