// Recording: the file layout byte for byte, the frames that write nothing, and
// recordings whose writes fail.
#include <cmath>

#include "motion_test_support.h"

using namespace mdtest;

namespace {

// Delegates to the command-line platform but lets only a budget of writes
// succeed; later writes fail (-1) or come up short.
class FailingWritesPlatform : public platform::CommandLinePlatform {
public:
    FailingWritesPlatform(int budget, bool shortWrites) : Budget(budget), Short(shortWrites) {}
    int64_t WriteAt(platform::FileHandle h, uint64_t offset, const void* buf, size_t n) override {
        if (Budget-- > 0) return platform::Default().WriteAt(h, offset, buf, n);
        ++Refused;
        return Short && n > 1 ? platform::Default().WriteAt(h, offset, buf, n - 1) : -1;
    }
    void MessageBox(const std::string& text, const std::string& title, int32_t icon) override {
        platform::Default().MessageBox(text, title, icon);
    }
    std::optional<std::string> FileDialog(const platform::FileDialogSpec& spec) override {
        return platform::Default().FileDialog(spec);
    }
    int Budget;
    bool Short;
    int Refused = 0;
};

struct PlatformSwap {
    explicit PlatformSwap(platform::Platform* p) { platform::Set(p); }
    ~PlatformSwap() { platform::Set(nullptr); }
};

}  // namespace

using RecordingTest = MotionTest;

TEST_F(RecordingTest, StartWritesCountOnceAndPostsTheRangeRender) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    EXPECT_EQ(Op->Recording, 1);
    EXPECT_EQ(Op->SkipCompositing, 1);
    EXPECT_EQ(Op->ResetRequested, 1);
    EXPECT_EQ(Op->FileFrameCount, 10);
    EXPECT_EQ(Op->NextDataOffset, 204u);
    Bytes b = ReadFile(path);
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(Get<int32_t>(b, 0), 10);

    std::unique_ptr<RenderMessage> msg = H->TheFlow.Port().GetMsg();
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->Start, 10.0);
    EXPECT_EQ(msg->End, 19.0);
    EXPECT_EQ(msg->Flags, 0u);
    EXPECT_EQ(msg->Target, nullptr);
    EXPECT_EQ(msg->Sender, Op);
    EXPECT_EQ(msg->Flags2, 0u);
    EXPECT_EQ(msg->Step, 1);
    EXPECT_TRUE(H->TheFlow.Port().Empty());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(RecordingTest, FramesGetTheirEntryAndBlocksAppendInRenderOrder) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    H->TheFlow.Port().GetMsg();

    // Frame 15 first (entry at 4 + 5 * 20 = 104), then frame 10 at a fractional
    // time, then frame 15 again: its entry is rewritten, the old block stays.
    RecordFrame(Op, 15.0, 30.0, 0, MakeFrame(1, 3));
    RecordFrame(Op, 10.7, 31.0, 2, MakeFrame(2, 1));
    RecordFrame(Op, 15.0, 32.0, 1, MakeFrame(3, 2));
    Op->OnEndRender();

    Bytes b = ReadFile(path);
    const size_t data = 4 + 20 * 10;
    ASSERT_EQ(b.size(), data + 40 * (3 + 1 + 2));
    EXPECT_EQ(Get<int32_t>(b, 0), 10);
    // Entry of frame 15, rewritten by its second rendering.
    EXPECT_EQ(Get<double>(b, 104), 32.0);
    EXPECT_EQ(Get<int32_t>(b, 112), 1);
    EXPECT_EQ(Get<int32_t>(b, 116), 2);
    EXPECT_EQ(Get<uint32_t>(b, 120), data + 40 * 4);
    // Entry of frame 10.
    EXPECT_EQ(Get<double>(b, 4), 31.0);
    EXPECT_EQ(Get<int32_t>(b, 12), 2);
    EXPECT_EQ(Get<int32_t>(b, 16), 1);
    EXPECT_EQ(Get<uint32_t>(b, 20), data + 40 * 3);
    // Every other entry stays zero.
    for (int k : {1, 2, 3, 4, 6, 7, 8, 9}) {
        for (size_t i = 0; i < 20; ++i) EXPECT_EQ(b[4 + 20 * k + i], 0) << "entry " << k;
    }
    // The blocks, in render order, records oldest first.
    std::vector<Record> expected = MakeFrame(1, 3);
    for (Record r : MakeFrame(2, 1)) expected.push_back(r);
    for (Record r : MakeFrame(3, 2)) expected.push_back(r);
    for (size_t i = 0; i < expected.size(); ++i) {
        Record r = Get<Record>(b, data + 40 * i);
        EXPECT_EQ(r.X, expected[i].X);
        EXPECT_EQ(r.Y, expected[i].Y);
        EXPECT_EQ(r.Angle, expected[i].Angle);
        EXPECT_EQ(r.Age, expected[i].Age);
        EXPECT_EQ(r.Size, expected[i].Size);
    }
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File written!", "Confirm", 64);
    EXPECT_EQ(Op->RecordFile, platform::NoFile);
    EXPECT_EQ(Op->Recording, 0);
    EXPECT_EQ(Op->SkipCompositing, 0);
}

TEST_F(RecordingTest, FramesOutsideTheRangeAndPreRollWriteNothing) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    RecordFrame(Op, 12.0, 30.0, 0, MakeFrame(1, 2));
    const Bytes before = ReadFile(path);
    const uint32_t next = Op->NextDataOffset;

    for (double t : {9.0, 9.99, 20.0, -3.0, 1e12, std::nan("")}) {
        RecordFrame(Op, t, 99.0, 7, MakeFrame(9, 4));
        EXPECT_EQ(Op->RecordFrameInRange, 0) << t;
        EXPECT_FALSE(Op->RecordActive()) << t;
    }
    // A pre-roll inside a recorded frame: its ageing and stepping write nothing.
    Op->BeginRecordedFrame(13.0);
    const uint32_t entryPos = Op->RecordOffset;
    Op->PreRolling = 1;
    EXPECT_FALSE(Op->RecordActive());
    int32_t retired = 5;
    Record r = MakeRecord(8, 8);
    Op->RecordWrite(&retired, 4);
    Op->RecordWrite(&r, 40);
    EXPECT_EQ(Op->RecordOffset, entryPos);
    Op->PreRolling = 0;

    Bytes after = ReadFile(path);
    // Only frame 13's lifetime went in; nothing else changed.
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(Get<double>(after, 4 + 20 * 3), 99.0);
    Put<double>(after, 4 + 20 * 3, 0.0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(Op->NextDataOffset, next);
}

TEST_F(RecordingTest, RangeChangedDuringTheRecordingStaysInsideTheTable) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    // The range controls move on after the file was made: a frame beyond the
    // table the file was created with is not written.
    Op->RecordLastFrame = 40;
    RecordFrame(Op, 30.0, 1.0, 0, MakeFrame(1, 1));
    EXPECT_EQ(ReadFile(path).size(), 4u);
    RecordFrame(Op, 19.0, 1.0, 0, MakeFrame(1, 1));
    EXPECT_EQ(ReadFile(path).size(), 204u + 40u);
}

TEST_F(RecordingTest, FailedWriteIsReportedAtRenderEndInsteadOfSuccess) {
    const std::string path = Path("run.lpd");
    // Count, then frame 10 complete (lifetime, retired, live, offset, 2 records),
    // then the first write of frame 11 fails.
    FailingWritesPlatform failing(1 + 6, false);
    PlatformSwap swap(&failing);
    StartRecording(path, 10, 19);
    RecordFrame(Op, 10.0, 30.0, 0, MakeFrame(1, 2));
    EXPECT_EQ(Op->RecordFailed, 0);
    RecordFrame(Op, 11.0, 30.0, 0, MakeFrame(2, 2));
    EXPECT_EQ(Op->RecordFailed, 1);
    EXPECT_EQ(failing.Refused, 1);  // nothing more was tried after the failure
    RecordFrame(Op, 12.0, 30.0, 0, MakeFrame(3, 2));
    EXPECT_EQ(failing.Refused, 1);
    Op->OnEndRender();

    ASSERT_EQ(platform::Default().Messages().size(), 1u);
    ExpectMessage(platform::Default().Messages()[0], "Output File incomplete: writing failed!", "Warning", 48);
    // The frame written before the failure is intact.
    Bytes b = ReadFile(path);
    ASSERT_EQ(b.size(), 204u + 80u);
    EXPECT_EQ(Get<int32_t>(b, 16), 2);
    EXPECT_EQ(Get<uint32_t>(b, 20), 204u);
    EXPECT_EQ(Get<Record>(b, 244).X, MakeRecord(1, 1).X);
}

TEST_F(RecordingTest, ShortWriteCountsAsFailed) {
    FailingWritesPlatform failing(1 + 3, true);
    PlatformSwap swap(&failing);
    StartRecording(Path("run.lpd"), 0, 5);
    RecordFrame(Op, 0.0, 30.0, 0, MakeFrame(1, 2));
    EXPECT_EQ(Op->RecordFailed, 1);
    Op->OnEndRender();
    ASSERT_EQ(platform::Default().Messages().size(), 1u);
    EXPECT_EQ(platform::Default().Messages()[0].Text, "Output File incomplete: writing failed!");
}

TEST_F(RecordingTest, WritingToAFullDeviceIsReported) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    StartRecording("/dev/full", 0, 5);
    EXPECT_EQ(Op->Recording, 1);
    EXPECT_EQ(Op->RecordFailed, 1);  // the count itself could not be written
    RecordFrame(Op, 0.0, 30.0, 0, MakeFrame(1, 2));
    Op->OnEndRender();
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File incomplete: writing failed!", "Warning", 48);
}

TEST_F(RecordingTest, StoppingAFailedRecordingSaysSo) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    StartRecording("/dev/full", 0, 5);
    H->Press(Op->InRecordNow);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].Text, "Output File incomplete: writing failed!");
}

TEST_F(RecordingTest, BlockThatWouldPassFourGigabytesStopsTheRecordingCleanly) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 0, 5);
    RecordFrame(Op, 0.0, 30.0, 0, MakeFrame(1, 2));
    // As if the file had grown to just below 4 GiB.
    Op->NextDataOffset = 0xFFFFFFFFu - 100u;
    RecordFrame(Op, 1.0, 30.0, 0, MakeFrame(2, 3));
    EXPECT_EQ(Op->RecordFailed, 2);
    EXPECT_FALSE(Op->RecordActive());
    Op->OnEndRender();
    // Nothing was written near the limit; the first frame is intact.
    Bytes b = ReadFile(path);
    EXPECT_EQ(b.size(), 4u + 120u + 80u);
    EXPECT_EQ(Get<int32_t>(b, 4 + 20 + 12), 0);  // frame 1's counts were never written
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File incomplete: 4 GB file size limit reached!", "Warning", 48);
}

TEST_F(RecordingTest, WriteReachingTheOffsetLimitIsRefused) {
    StartRecording(Path("run.lpd"), 0, 5);
    Op->BeginRecordedFrame(0.0);
    Op->RecordOffset = 0xFFFFFFF0u;
    Record r{};
    Op->RecordWrite(&r, 40);
    EXPECT_EQ(Op->RecordFailed, 2);
    EXPECT_EQ(Op->RecordOffset, 0xFFFFFFF0u);
}

TEST_F(RecordingTest, EmptyOrOverlongRangeIsRefusedBeforeTheFileIsReplaced) {
    const std::string path = Path("keep.lpd");
    WriteFile(path, Bytes{1, 2, 3});
    StartRecording(path, 20, 19);
    EXPECT_EQ(Op->Recording, 0);
    EXPECT_EQ(ReadFile(path), (Bytes{1, 2, 3}));
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Recording range is empty!", "Warning", 48);
    EXPECT_TRUE(H->TheFlow.Port().Empty());
}

TEST_F(RecordingTest, RangeWhoseTablePassesTheOffsetsIsRefused) {
    StartRecording(Path("long.lpd"), -2000000000, 2000000000);
    EXPECT_EQ(Op->Recording, 0);
    EXPECT_EQ(Op->RecordFile, platform::NoFile);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Recording range is too long!", "Warning", 48);
    EXPECT_FALSE(std::filesystem::exists(Path("long.lpd")));
}
