// The interface side pressing buttons while renders run on another thread: nothing
// crashes and every recording made is a complete, readable file. Run under
// ThreadSanitizer they also show that no data is shared unguarded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/test_files.h"
#include "common/tool_harness.h"
#include "motiondata/motion_file.h"

namespace {

// Checks that every written frame entry names finite records the file holds
// (entries of frames never rendered are zero or past the end); returns how many.
int CheckRecording(const std::string& path, int32_t expectedFrames) {
    testfiles::Bytes b = testfiles::ReadBytes(path);
    int32_t n = 0;
    if (b.size() >= 4) std::memcpy(&n, b.data(), 4);
    EXPECT_EQ(n, expectedFrames) << path;
    if (n != expectedFrames) return 0;
    const size_t fileSize = b.size();
    if (b.size() < motion_file::DataStart(n)) b.resize(motion_file::DataStart(n), 0);
    int written = 0;
    for (int32_t k = 0; k < n; ++k) {
        const motion_file::FrameEntry e = motion_file::DecodeEntry(&b[motion_file::EntryOffset(k)]);
        if (e.DataOffset == 0 && e.Live == 0 && e.Lifetime == 0.0) continue;  // not rendered
        ++written;
        EXPECT_GE(e.DataOffset, motion_file::DataStart(n)) << path << " frame " << k;
        EXPECT_GE(e.Live, 0) << path << " frame " << k;
        const uint64_t end = motion_file::BlockEnd(e.DataOffset, e.Live);
        EXPECT_LE(end, fileSize) << path << " frame " << k << ": records missing";
        for (int32_t i = 0; i < e.Live && end <= fileSize; ++i) {
            motion_file::Record r = motion_file::DecodeRecord(&b[motion_file::BlockEnd(e.DataOffset, i)]);
            EXPECT_TRUE(std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Age)) << path << " frame " << k;
        }
    }
    return written;
}

// Runs the body on its own thread until stopped, however the test ends.
class RenderThread {
public:
    template <typename Body>
    explicit RenderThread(Body body) : Thread([this, body] {
          while (!Stop) body();
      }) {}
    ~RenderThread() { Join(); }
    void Join() {
        Stop = true;
        if (Thread.joinable()) Thread.join();
    }

private:
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

class InterfaceDuringRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Default().SetEcho(false);
        platform::Default().ClearRecords();
        H = std::make_unique<ToolHarness>(40, 30, 3, 3);
        Op = H->Op;
        for (auto [in, v] : {std::pair{Op->ControlInput("Birthrate"), 6}, {Op->ControlInput("Lifetime"), 5}, {Op->ControlInput("RecordStartFrame"), 0},
                             {Op->ControlInput("RecordLastFrame"), Frames - 1}, {Op->ControlInput("ImageStartFrame"), 0},
                             {Op->ControlInput("ImageLastFrame"), 2}})
            H->SetNumber(in, v);
        H->Request_(0);  // ranges reach the frame settings
    }
    void TearDown() override {
        H.reset();
        platform::Default().ClearRecords();
    }
    // Waits (at most 20 s) until the condition holds.
    template <typename Cond>
    static void WaitFor(Cond cond) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!cond() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    }
    static int CountMessages(const std::string& text) {
        const auto m = platform::Default().Messages();
        return int(std::count_if(m.begin(), m.end(), [&](const auto& r) { return r.Text == text; }));
    }

    static constexpr int32_t Frames = 8;
    testfiles::ScratchDir Scratch;
    const std::string Dir = Scratch.Path.string();
    std::unique_ptr<ToolHarness> H;
    ParticleOperator* Op = nullptr;
};

TEST_F(InterfaceDuringRenderTest, ButtonsPressedDuringRendersLeaveCompleteRecordings) {
    std::atomic<int64_t> rendered{0};
    int64_t i = 0;
    RenderThread renderer([&] {
        H->Request_(double(i % Frames));
        if (i % 3 == 0) H->ServeMessages();
        if (i % 7 == 0) H->Render(0, 2);
        rendered = ++i;
    });
    auto waitRenders = [&](int64_t n) { WaitFor([&, target = rendered + n] { return rendered >= target; }); };

    std::vector<std::string> files;
    constexpr int Rounds = 100;
    for (int round = 0; round < Rounds; ++round) {
        H->Press(Op->ControlInput("ResetPosition"));
        H->Press(Op->ControlInput("UnloadSystem"));
        if (round % 4 == 0) H->Press(Op->ControlInput("PreloadShapes"));
        H->Press(Op->ControlInput("DeletePreloaded"));
        const std::string path = Dir + "/run" + std::to_string(round) + ".lpd";
        platform::Default().QueueDialogAnswer(path);
        H->Press(Op->ControlInput("SaveFile"));
        H->Press(Op->ControlInput("RecordNow"));
        files.push_back(path);
        waitRenders(1 + round % 4);
        if (round % 2 == 0) H->Press(Op->ControlInput("RecordNow"));      // stops it early
        if (round % 5 == 0) H->Press(Op->ControlInput("ResetPosition"));  // closes it at the next frame
        waitRenders(1);
    }
    renderer.Join();
    H->ServeMessages();
    H->Render(0, 0);  // any recording still open ends here

    EXPECT_EQ(Op->Recording, 0);
    EXPECT_FALSE(Op->Recorder.IsOpen());
    EXPECT_EQ(CountMessages("Output File incomplete: writing failed!"), 0);
    // A press that found the last round's recording running stopped it instead.
    int written = 0, made = 0;
    for (const std::string& f : files) {
        if (!std::filesystem::exists(f)) continue;
        ++made;
        written += CheckRecording(f, Frames);
    }
    EXPECT_GT(made, Rounds / 2);
    EXPECT_GT(written, 0) << "no frame was recorded at all";
}

TEST_F(InterfaceDuringRenderTest, RecordingStartedDuringRendersKeepsEveryFrame) {
    std::atomic<int> passes{0};
    std::atomic<int64_t> rendered{0};
    int64_t i = 0;
    RenderThread renderer([&] {
        H->Request_(double(i++ % Frames));
        passes += H->ServeMessages();
        rendered = i;
    });
    for (int round = 0; round < 10; ++round) {
        const std::string path = Dir + "/full" + std::to_string(round) + ".lpd";
        const int writtenBefore = CountMessages("Output File written!");
        H->Press(Op->ControlInput("ResetPosition"));
        H->Press(Op->ControlInput("DeletePreloaded"));
        WaitFor([&, seen = rendered.load()] { return rendered >= seen + 2; });  // a frame carries out the reset
        const int before = passes;
        platform::Default().QueueDialogAnswer(path);
        H->Press(Op->ControlInput("SaveFile"));
        H->Press(Op->ControlInput("RecordNow"));
        WaitFor([&] { return passes != before && CountMessages("Output File written!") != writtenBefore; });
        ASSERT_EQ(CountMessages("Output File written!"), writtenBefore + 1) << "round " << round;
        EXPECT_EQ(CheckRecording(path, Frames), Frames) << "round " << round;
    }
}

// A pending reset must not close a recording "Record now" starts before the next
// frame (it used to, leaving a file that holds only its count).
TEST_F(InterfaceDuringRenderTest, ResetPressedBeforeRecordNowKeepsTheRecording) {
    const std::string path = Dir + "/after-reset.lpd";
    H->Press(Op->ControlInput("ResetPosition"));
    platform::Default().QueueDialogAnswer(path);
    H->Press(Op->ControlInput("SaveFile"));
    H->Press(Op->ControlInput("RecordNow"));
    EXPECT_EQ(H->ServeMessages(), 1);
    EXPECT_EQ(CountMessages("Output File written!"), 1);
    EXPECT_EQ(CheckRecording(path, Frames), Frames);
}

}  // namespace
