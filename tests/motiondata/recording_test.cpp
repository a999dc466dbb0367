// Recording: the file layout byte for byte, the frames that write nothing, and
// recordings whose writes fail or reach the 4 GiB limit.
#include <cmath>

#include "motion_test_support.h"

using namespace mdtest;

namespace {

// Lets a budget of writes through to the command-line platform; later writes
// fail (-1) or come up one byte short.
struct FailingWrites : platform::CommandLinePlatform {
    FailingWrites(int budget, bool shortWrites) : Budget(budget), Short(shortWrites) { platform::Set(this); }
    ~FailingWrites() override { platform::Set(nullptr); }
    int64_t WriteAt(platform::FileHandle h, uint64_t offset, const void* buf, size_t n) override {
        ++Calls;
        if (Budget-- > 0) return platform::Default().WriteAt(h, offset, buf, n);
        ++Refused;
        return Short && n > 1 ? platform::Default().WriteAt(h, offset, buf, n - 1) : -1;
    }
    int Budget;
    bool Short;
    int Refused = 0, Calls = 0;
};

}  // namespace

using RecordingTest = MotionTest;

TEST_F(RecordingTest, SmallRunLayoutByteForByte) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    EXPECT_TRUE(Op->Recording && Op->SkipCompositing && Op->ResetRequested);
    EXPECT_EQ(ReadBytes(path), (Bytes{10, 0, 0, 0}));  // the count, once, at offset 0
    ExpectPostedRender(10.0, 19.0);

    // Frame 15 (entry at 4 + 5 * 20 = 104), frame 10 at a fractional time, then
    // frame 15 again: its entry is rewritten, its first block stays.
    RecordFrame(Op, 15.0, 30.0, 0, MakeFrame(1, 3));
    RecordFrame(Op, 10.7, 31.0, 2, MakeFrame(2, 1));
    RecordFrame(Op, 15.0, 32.0, 1, MakeFrame(3, 2));
    Op->OnEndRender();
    ExpectOnlyMessage(platform::MessageKind::RecordingWritten, "Output File written!", "Confirm", 64);
    EXPECT_TRUE(!Op->Recorder.IsOpen() && Op->Recording == 0 && Op->SkipCompositing == 0);

    MotionFileBuilder expected(10);  // every entry but frames 15 and 10 stays zero
    expected.SetEntry(5, 32.0, 1, 2, 204 + 40 * 4);
    expected.SetEntry(0, 31.0, 2, 1, 204 + 40 * 3);
    for (auto [k, n] : {std::pair{1, 3}, std::pair{2, 1}, std::pair{3, 2}}) expected.AddBlock(MakeFrame(k, n));
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(b, expected.Data);
    EXPECT_EQ(Get<double>(b, 104), 32.0);
    EXPECT_EQ(Get<uint32_t>(b, 120), 204u + 160u);
}

TEST_F(RecordingTest, FramesOutsideTheRangeWriteNothing) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    RecordFrame(Op, 12.0, 30.0, 0, MakeFrame(1, 2));
    const Bytes before = ReadBytes(path);
    const uint32_t next = Op->Recorder.NextDataOffset();
    for (double t : {9.0, 9.99, 20.0, -3.0, 1e12, std::nan("")}) RecordFrame(Op, t, 99.0, 7, MakeFrame(9, 4));
    // The range controls moved on after the file was made: a frame beyond the
    // table the file was created with is not written either.
    Op->Frame.Range.RecordLastFrame = 40;
    RecordFrame(Op, 30.0, 99.0, 0, MakeFrame(9, 1));
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(Op->Recorder.NextDataOffset(), next);
}

TEST_F(RecordingTest, AFrameIsOneWriteOfItsEntryAndOneOfItsRecords) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 10, 19);
    FailingWrites counting(1000, false);
    for (double t : {10.0, 11.0, 12.0}) RecordFrame(Op, t, 30.0, 0, MakeFrame(int(t), 500));
    EXPECT_EQ(counting.Calls, 6);
}

TEST_F(RecordingTest, FailingWritesAreReportedAtRenderEndInsteadOfSuccess) {
    // A frame is two writes: its table entry, then its block of records.
    for (auto [budget, shortWrites] : {std::pair{2, false}, std::pair{1, true}}) {
        SCOPED_TRACE(budget);
        platform::Default().ClearRecords();
        const std::string path = Path("run" + std::to_string(budget) + ".lpd");
        StartRecording(path, 10, 19);
        {
            FailingWrites failing(budget, shortWrites);
            for (double t : {10.0, 11.0, 12.0}) RecordFrame(Op, t, 30.0, 0, MakeFrame(int(t), 2));
            EXPECT_EQ(failing.Refused, 1);  // nothing more was tried after the failure
        }
        EXPECT_EQ(Op->Recorder.Failed(), MotionRecorder::WriteFailed);
        Op->OnEndRender();
        ExpectOnlyMessage(platform::MessageKind::RecordingWriteFailed, "Output File incomplete: writing failed!",
                          "Warning", 48);
    }
    // The frame written before the failure of frame 11's first write is intact.
    MotionFileBuilder expected(10);
    expected.SetEntry(0, 30.0, 0, 2, expected.AddBlock(MakeFrame(10, 2)));
    EXPECT_EQ(ReadBytes(Path("run2.lpd")), expected.Data);
}

TEST_F(RecordingTest, FourGigabyteLimitStopsTheRecordingCleanly) {
    // The longest range whose table still fits below 4 GiB: the first block starts
    // 12 bytes below the limit, so a frame without particles fits and one with does not.
    const int32_t frames = int32_t((motion_file::OffsetLimit - 4) / 20);
    const std::string path = Path("run.lpd");
    H->SetNumber(Op->ControlInput("Lifetime"), 4);
    H->SetNumber(Op->ControlInput("Birthrate"), 0);
    H->SetNumber(Op->ControlInput("RecordStartFrame"), 0);
    H->SetNumber(Op->ControlInput("RecordLastFrame"), frames - 1);
    H->Request_(0);  // the buttons use the last request's range
    Press(Op->ControlInput("SaveFile"), path);
    H->Press(Op->ControlInput("RecordNow"));
    H->Request_(0);
    H->SetNumber(Op->ControlInput("Birthrate"), 3);
    H->Request_(1);
    H->Request_(2);
    Op->OnEndRender();
    ExpectOnlyMessage(platform::MessageKind::RecordingLimitReached,
                      "Output File incomplete: 4 GB file size limit reached!", "Warning", 48);
    // Frame 0 is whole; frame 1, whose block did not fit, left no part of its entry.
    const Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), motion_file::EntryOffset(1));
    const FrameEntry e = motion_file::DecodeEntry(&b[motion_file::EntryOffset(0)]);
    EXPECT_TRUE(e.Live == 0 && e.DataOffset == motion_file::DataStart(frames));
}
