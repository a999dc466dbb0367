// Recording, playback and capture through the whole tool: buttons pressed, the
// posted render served by the flow, frames made by the frame driver.
#include "motion_test_support.h"

using namespace mdtest;

namespace {

// What a recorded file says, checked for the invariants every recording keeps:
// entry k's block holds its live count of records, the blocks follow each other
// from the end of the table in render order, and nothing else is in the file.
struct RecordedFile {
    explicit RecordedFile(const Bytes& b) : Data(b) {
        N = Get<int32_t>(b, 0);
        for (int32_t k = 0; k < N; ++k) Entries.push_back(motion_file::DecodeEntry(&b[motion_file::EntryOffset(k)]));
    }
    Record At(int32_t k, int32_t i) const {
        return Get<Record>(Data, Entries[size_t(k)].DataOffset + 40 * size_t(i));
    }
    Bytes Data;
    int32_t N = 0;
    std::vector<FrameEntry> Entries;
};

void ExpectConsistent(const RecordedFile& f) {
    uint64_t next = motion_file::DataStart(f.N);
    int64_t previousLive = 0;
    for (int32_t k = 0; k < f.N; ++k) {
        const FrameEntry& e = f.Entries[size_t(k)];
        EXPECT_EQ(e.DataOffset, next) << "frame " << k;
        EXPECT_GE(e.Live, 0);
        // Nobody retires who was not there the frame before (the first frame may
        // retire particles of a pre-roll).
        if (k > 0) {
            EXPECT_LE(e.Retired, previousLive) << "frame " << k;
        }
        previousLive = e.Live;
        next += 40 * uint64_t(e.Live);
    }
    EXPECT_EQ(f.Data.size(), next);
}

}  // namespace

class EndToEndTest : public MotionTest {
protected:
    void SetUp() override {
        MotionTest::SetUp();
        H->SetNumber(Op->InLifetime, 4);
        H->SetNumber(Op->InBirthrate, 3);
        H->SetNumber(Op->InRecordStartFrame, 10);
        H->SetNumber(Op->InRecordLastFrame, 19);
        H->Request_(0);  // the buttons use the frame settings of the last request
        ASSERT_EQ(Op->RecordStartFrame, 10);
        ASSERT_EQ(Op->RecordLastFrame, 19);
    }
    void RecordRange(const std::string& path) {
        ChooseSaveFile(path);
        H->Press(Op->InRecordNow);
        EXPECT_EQ(H->ServeMessages(), 1);
    }
};

TEST_F(EndToEndTest, RecordedRunIsAValidFileAndPlaysBackItsRecords) {
    const std::string path = Path("run.lpd");
    RecordRange(path);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File written!", "Confirm", 64);
    EXPECT_EQ(Op->Recording, 0);
    EXPECT_EQ(Op->SkipCompositing, 0);
    EXPECT_EQ(Op->LiveCount, 0);  // the render end empties the pool

    RecordedFile f(ReadFile(path));
    ASSERT_EQ(f.N, 10);
    ExpectConsistent(f);
    // Three births a frame from an empty pool, and a lifetime of 4 frames.
    EXPECT_EQ(f.Entries[0].Live, 3);
    EXPECT_EQ(f.Entries[0].Retired, 0);
    EXPECT_EQ(f.Entries[9].Lifetime, 4.0);
    EXPECT_GT(f.Entries[9].Retired, 0);

    // Played back over frames 0..9 the first frame shows frame 0's records from
    // the first R on, exactly as written.
    H->SetNumber(Op->InLoadStartFrame, 0);
    H->SetNumber(Op->InLoadLastFrame, 9);
    platform::Default().QueueDialogAnswer(path);
    H->Press(Op->InLoadSystem);
    ASSERT_EQ(Op->SystemLoaded, 1);
    H->Request_(0);
    const int32_t r = f.Entries[1].Retired;
    ASSERT_EQ(Op->LiveCount, f.Entries[0].Live - r);
    for (int32_t i = 0; i < Op->LiveCount; ++i) {
        const Record rec = f.At(0, r + i);
        EXPECT_EQ(Op->LiveParticle(i).Position.x, rec.X);
        EXPECT_EQ(Op->LiveParticle(i).Position.y, rec.Y);
        EXPECT_EQ(Op->LiveParticle(i).Age, rec.Age);
    }
    H->Request_(20);  // outside the load range
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(Op->SystemLoaded, 1);
}

TEST_F(EndToEndTest, PreRollDuringARecordingStaysOutOfTheFile) {
    H->SetNumber(Op->InRollFrames, 7);
    H->Press(Op->InFastForward);
    const std::string path = Path("roll.lpd");
    RecordRange(path);
    RecordedFile f(ReadFile(path));
    ASSERT_EQ(f.N, 10);
    ExpectConsistent(f);
    // The pre-roll ran in the first frame of the pass: it starts developed.
    EXPECT_GT(f.Entries[0].Live, 3);
}

TEST_F(EndToEndTest, RecordNowPressedTwiceThenTheRenderSaysNothingMore) {
    const std::string path = Path("run.lpd");
    ChooseSaveFile(path);
    H->Press(Op->InRecordNow);
    H->Press(Op->InRecordNow);
    EXPECT_EQ(H->ServeMessages(), 1);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], path, "Particle Data Saved in File", 0);
    EXPECT_EQ(ReadFile(path).size(), 4u);  // stopped before any frame
}

TEST_F(EndToEndTest, ResetDuringTheRecordingRenderClosesTheFileSilently) {
    const std::string path = Path("run.lpd");
    ChooseSaveFile(path);
    H->Press(Op->InRecordNow);
    H->TheFlow.PrepareFrame = [this](Operator*, double t) {
        if (t == 13) H->Press(Op->InResetPosition);
        return true;
    };
    H->ServeMessages();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Op->RecordFile, platform::NoFile);
    RecordedFile f(ReadFile(path));
    // Frames 10..12 were written, frame 13 on were not.
    EXPECT_EQ(f.Entries[0].DataOffset, 204u);
    EXPECT_GT(f.Entries[2].DataOffset, 204u);
    for (int k = 3; k < 10; ++k) EXPECT_EQ(f.Entries[size_t(k)].DataOffset, 0u) << k;
}

TEST_F(EndToEndTest, RecordingToAFullDeviceIsReportedAtTheEnd) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    RecordRange("/dev/full");
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File incomplete: writing failed!", "Warning", 48);
}

TEST_F(EndToEndTest, ShapeCaptureCompletesOrSaysItDidNot) {
    H->SetNumber(Op->InImageStartFrame, 2);
    H->SetNumber(Op->InImageLastFrame, 5);
    H->Request_(0);
    ASSERT_EQ(Op->ShapeFrameCount, 4);
    H->Press(Op->InPreloadShapes);
    EXPECT_EQ(H->ServeMessages(), 1);
    EXPECT_EQ(Op->PreloadedPresent, 1);
    EXPECT_EQ(Op->PreloadCapturing, 0);
    ASSERT_EQ(Op->PreloadedShapes.Count(), 4);
    EXPECT_EQ(Op->PreloadedShapes.Levels[3].Width, H->Shape->Width);
    EXPECT_TRUE(Messages().empty());

    // The next pass is stopped after its second frame.
    H->Press(Op->InDeletePreloaded);
    H->Press(Op->InPreloadShapes);
    H->TheFlow.PrepareFrame = [](Operator*, double t) { return t < 4; };
    H->ServeMessages();
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Image Sequence not completed!", "Confirm", 64);
    EXPECT_EQ(Op->PreloadedPresent, 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 0);
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 0);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 1);
}
