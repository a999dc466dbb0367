// "Load System" and "Unload System" wait for a running frame: a file loaded and
// closed while another thread plays it back never overlaps a frame's reads.
// (The other buttons under the same traffic are exercised by the hardening tests.)
#include <atomic>
#include <thread>

#include "motion_test_support.h"

using namespace mdtest;

using RenderGateTest = MotionTest;

TEST_F(RenderGateTest, LoadAndUnloadDuringPlaybackRendersKeepTheToolWhole) {
    MotionFileBuilder f(3);
    for (int k = 0; k < 3; ++k) f.AddFrame(k, 10.0, 0, 50);
    WriteBytes(Path("three.lpd"), f.Data);
    H->SetNumber(Op->ControlInput("Birthrate"), 20);
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread renderer([&] {
        for (int i = 0; !stop; ++i, ++frames) H->Request_(double(i % 4));
    });
    for (int round = 0; round < 40; ++round) {
        Press(Op->ControlInput("LoadSystem"), Path("three.lpd"));
        std::this_thread::yield();
        H->Press(Op->ControlInput("UnloadSystem"));
    }
    for (const int seen = frames; frames < seen + 3;) std::this_thread::yield();  // frames after the last press
    stop = true;
    renderer.join();
    EXPECT_TRUE(Op->SystemLoaded == 0 && !Op->Player.IsOpen() && Messages().empty());
    EXPECT_TRUE(Op->Pool.LiveCount >= 0 && Op->Pool.LiveCount < PoolSize);
}
