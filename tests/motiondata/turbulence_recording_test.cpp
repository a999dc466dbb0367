// A run with turbulence and wind is recorded as it is rendered, and plays back so.
#include "motion_test_support.h"

using namespace mdtest;

class TurbulenceRecordingTest : public MotionTest {
protected:
    // A tool recording frames 10..19, with the flow's drift set (or not).
    void DriftingTool(bool drift) {
        NewTool(true);
        if (drift) {
            H->SetNumber(Op->ControlInput("Turbulence"), 0.2);
            H->SetNumber(Op->ControlInput("TurbulenceScale"), 0.1);
            H->SetPoint(Op->ControlInput("Wind"), 0.01, -0.005);
        }
        H->Request_(0);
    }
    Bytes RecordTo(const std::string& path) {
        Press(Op->ControlInput("SaveFile"), path);
        H->Press(Op->ControlInput("RecordNow"));
        EXPECT_EQ(H->ServeMessages(), 1);
        return ReadBytes(path);
    }
    // The records of frame entry k.
    std::vector<Record> RecordsOf(const Bytes& b, int32_t k) {
        const FrameEntry e = motion_file::DecodeEntry(&b[motion_file::EntryOffset(k)]);
        std::vector<Record> out;
        for (int32_t i = 0; i < e.Live; ++i) out.push_back(Get<Record>(b, motion_file::BlockEnd(e.DataOffset, i)));
        return out;
    }
};

TEST_F(TurbulenceRecordingTest, ARecordingWithTurbulencePlaysBackAsRendered) {
    DriftingTool(false);
    const Bytes still = RecordTo(Path("still.lpd"));
    DriftingTool(true);
    const std::string path = Path("drift.lpd");
    const Bytes drift = RecordTo(path);
    ASSERT_EQ(Get<int32_t>(drift, 0), 10);
    EXPECT_NE(drift, still);

    // Rendered again frame by frame from a fresh start, every frame's particles
    // are the recorded ones.
    DriftingTool(true);
    H->Press(Op->ControlInput("ResetPosition"));
    for (int32_t k = 0; k < 10; ++k) {
        H->Request_(10 + k);
        const std::vector<Record> recs = RecordsOf(drift, k);
        ASSERT_EQ(size_t(Op->Pool.LiveCount), recs.size()) << "frame " << 10 + k;
        for (size_t i = 0; i < recs.size(); ++i) {
            const Particle& p = Op->LiveParticle(int32_t(i));
            EXPECT_TRUE(p.Position.x == recs[i].X && p.Position.y == recs[i].Y) << "frame " << 10 + k << " #" << i;
        }
    }

    // Played back, the first frame shows its records from the first that the
    // next frame retires on, exactly as written.
    H->SetNumber(Op->ControlInput("LoadStartFrame"), 10);
    H->SetNumber(Op->ControlInput("LoadLastFrame"), 19);
    Press(Op->ControlInput("LoadSystem"), path);
    ASSERT_EQ(Op->SystemLoaded, 1);
    H->Request_(10);
    const std::vector<Record> first = RecordsOf(drift, 0);
    const size_t r = size_t(motion_file::DecodeEntry(&drift[motion_file::EntryOffset(1)]).Retired);
    ASSERT_EQ(size_t(Op->Pool.LiveCount), first.size() - r);
    for (size_t i = 0; i + r < first.size(); ++i) {
        const Particle& p = Op->LiveParticle(int32_t(i));
        EXPECT_TRUE(p.Position.x == first[r + i].X && p.Position.y == first[r + i].Y) << i;
    }
}
