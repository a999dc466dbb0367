// Recording and playback through the whole tool: buttons pressed, the posted
// render served by the flow, frames made by the frame driver.
#include "motion_test_support.h"

using namespace mdtest;

namespace {

// The frame table of a recorded file, checked for what every recording keeps:
// the blocks follow each other from the end of the table in render order, each
// holds its live count of records, and nothing else is in the file.
std::vector<FrameEntry> ConsistentEntries(const Bytes& b) {
    const int32_t n = Get<int32_t>(b, 0);
    std::vector<FrameEntry> e;
    uint64_t next = motion_file::DataStart(n);
    for (int32_t k = 0; k < n && motion_file::EntryOffset(k + 1) <= b.size(); ++k) {
        e.push_back(motion_file::DecodeEntry(&b[motion_file::EntryOffset(k)]));
        EXPECT_EQ(e[k].DataOffset, next) << "frame " << k;
        EXPECT_GE(e[k].Live, 0) << "frame " << k;
        // Nobody retires who was not there the frame before (the first frame may
        // retire particles of a pre-roll).
        EXPECT_LE(e[k].Retired, k > 0 ? e[k - 1].Live : e[k].Retired) << "frame " << k;
        next = motion_file::BlockEnd(next, e[k].Live);
    }
    EXPECT_EQ(b.size(), next);
    return e;
}

}  // namespace

class EndToEndTest : public MotionTest {
protected:
    void SetUp() override {
        MotionTest::SetUp();
        NewTool(true);
    }
    std::vector<FrameEntry> RecordRange(const std::string& path) {
        Press(Op->ControlInput("SaveFile"), path);
        H->Press(Op->ControlInput("RecordNow"));
        EXPECT_EQ(H->ServeMessages(), 1);
        std::vector<FrameEntry> e = ConsistentEntries(ReadBytes(path));
        EXPECT_EQ(e.size(), 10u);
        return e;
    }
};

TEST_F(EndToEndTest, RecordedRunPlaysBackItsRecords) {
    const std::string path = Path("run.lpd");
    const std::vector<FrameEntry> e = RecordRange(path);
    ASSERT_EQ(e.size(), 10u);
    ExpectOnlyMessage(platform::MessageKind::RecordingWritten, "Output File written!", "Confirm", 64);
    EXPECT_EQ(Op->Pool.LiveCount, 0);  // the render end empties the pool
    // Three births a frame from an empty pool, and a lifetime of 4 frames.
    EXPECT_TRUE(e[0].Live == 3 && e[0].Retired == 0 && e[9].Lifetime == 4.0 && e[9].Retired > 0);

    // Played back over frames 0..9, frame 0 shows frame 0's records from the
    // first R on, exactly as written.
    H->SetNumber(Op->ControlInput("LoadStartFrame"), 0);
    H->SetNumber(Op->ControlInput("LoadLastFrame"), 9);
    Press(Op->ControlInput("LoadSystem"), path);
    ASSERT_EQ(Op->SystemLoaded, 1);
    H->Request_(0);
    const Bytes b = ReadBytes(path);
    const int32_t r = e[1].Retired;
    ASSERT_EQ(Op->Pool.LiveCount, e[0].Live - r);
    for (int32_t i = 0; i < Op->Pool.LiveCount; ++i) {
        const Record rec = Get<Record>(b, motion_file::BlockEnd(e[0].DataOffset, r + i));
        const Particle& p = Op->LiveParticle(i);
        EXPECT_TRUE(p.Position.x == rec.X && p.Position.y == rec.Y && p.Age == rec.Age) << i;
    }
    H->Request_(20);  // outside the load range
    EXPECT_TRUE(Op->Pool.LiveCount == 0 && Op->SystemLoaded == 1);
}

TEST_F(EndToEndTest, PreRollDuringARecordingStaysOutOfTheFile) {
    H->SetNumber(Op->ControlInput("RollFrames"), 7);
    H->Press(Op->ControlInput("FastForward"));
    // The pre-roll ran in the first frame of the pass: it starts developed, and
    // the file holds nothing of its iterations.
    const std::vector<FrameEntry> e = RecordRange(Path("roll.lpd"));
    ASSERT_FALSE(e.empty());
    EXPECT_GT(e[0].Live, 3);
}
