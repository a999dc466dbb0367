// Playback: the interpolation of a requested time between the two nearest
// recorded frames, the end of a file, and files that are refused or damaged.
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "motion_test_support.h"

using namespace mdtest;

namespace {

// Four recorded frames; entry k+1's retired count tells how many of frame k's
// oldest particles are gone in frame k+1.
constexpr int32_t Frames = 4;
constexpr int32_t Live[Frames] = {5, 5, 5, 4};
constexpr int32_t Retired[Frames] = {0, 2, 0, 1};
constexpr double Lifetimes[Frames] = {40.0, 41.0, 42.0, 43.0};
constexpr uint32_t DataStart = uint32_t(motion_file::DataStart(Frames));

MotionFileBuilder GoodFile() {
    MotionFileBuilder f(Frames);
    // Blocks out of frame order, as a recording rendered out of order leaves them.
    for (int k : {2, 0, 3, 1}) f.AddFrame(k, Lifetimes[k], Retired[k], Live[k]);
    return f;
}

}  // namespace

class PlaybackTest : public MotionTest {
protected:
    void LoadFile(const Bytes& data, int32_t start = 0, int32_t last = 30) {
        WriteBytes(Path("m.lpd"), data);
        Load(Path("m.lpd"), start, last);
    }
    // The pool must hold frame k's particles from R on, blended with frame k+1's.
    void ExpectBlend(int k, double f) {
        const int32_t r = Retired[k + 1], shared = Live[k] - r;
        ASSERT_EQ(Op->Pool.LiveCount, shared);
        EXPECT_EQ(Op->Frame.Lifetime, Lifetimes[k]);
        for (int i = 0; i < shared; ++i) {
            const Record a = MakeRecord(k, r + i), b = MakeRecord(k + 1, i);
            const Particle& p = Op->LiveParticle(i);
            const Record got{p.Position.x, p.Position.y, p.Angle, p.Age, p.Size};
            for (double Record::*m : {&Record::X, &Record::Y, &Record::Angle, &Record::Age, &Record::Size}) {
                EXPECT_DOUBLE_EQ(got.*m, (1 - f) * a.*m + f * b.*m) << "particle " << i;
            }
            EXPECT_EQ(p.ShapeImage, nullptr);
        }
        EXPECT_EQ(Op->Frame.Birth.ApplyBirthImage, 1);
    }
};

TEST_F(PlaybackTest, RangeMapsOntoTheRecordedFramesForwardsAndReversed) {
    LoadFile(GoodFile().Data);
    ASSERT_TRUE(Op->SystemLoaded == 1 && Op->Player.FrameCount() == Frames && Op->ResetRequested == 1);
    const double last = Frames - 1.01;  // k = N - 2, f = 0.99 at the range's last frame
    struct Row { int reversed; double time; int k; double f; };
    for (const Row& row : {Row{0, 0.0, 0, 0.0}, Row{0, 30.0, Frames - 2, last - (Frames - 2)},
                           Row{0, 15.0, 1, 0.5 * last - 1}, Row{1, 0.0, Frames - 2, last - (Frames - 2)},
                           Row{1, 30.0, 0, 0.0}, Row{1, 10.0, 1, (1.0 - 10.0 / 30.0) * last - 1}}) {
        SCOPED_TRACE(testing::Message() << "reversed " << row.reversed << " time " << row.time);
        Op->ReversePlayback = row.reversed;
        Op->ReadMotionFrame(row.time);
        ExpectBlend(row.k, row.f);
    }
    EXPECT_NEAR(last - (Frames - 2), 0.99, 1e-12);
}

TEST_F(PlaybackTest, OutsideTheRangeOverASpanOfZeroOrWithoutAFileNoParticles) {
    LoadFile(GoodFile().Data, 10, 40);
    for (double t : {9.999, 40.001, -5.0}) {
        Op->ReadMotionFrame(25.0);
        ASSERT_GT(Op->Pool.LiveCount, 0);
        Op->ReadMotionFrame(t);
        EXPECT_EQ(Op->Pool.LiveCount, 0) << t;
    }
    EXPECT_EQ(Op->SystemLoaded, 1);
    Op->ReadMotionFrame(10.0);
    ExpectBlend(0, 0.0);

    LoadFile(GoodFile().Data, 5, 5);
    Op->ReadMotionFrame(5.0);
    EXPECT_TRUE(Op->Pool.LiveCount == 0 && Op->SystemLoaded == 1 && Messages().empty());

    // The load button closes the held file before its dialog: a cancelled dialog
    // leaves the flag without a file.
    LoadFile(GoodFile().Data);
    Op->ReadMotionFrame(0.0);
    ASSERT_GT(Op->Pool.LiveCount, 0);
    Press(Op->ControlInput("LoadSystem"));
    ASSERT_FALSE(Op->Player.IsOpen());
    Op->ReadMotionFrame(0.0);
    EXPECT_EQ(Op->Pool.LiveCount, 0);
}

TEST_F(PlaybackTest, EndOfFileEndsPlaybackSilently) {
    MotionFileBuilder f = GoodFile();
    // Frame 3's block is announced but never reached the file.
    f.SetEntry(3, Lifetimes[3], Retired[3], Live[3], uint32_t(f.Data.size()));
    LoadFile(f.Data);
    Op->ReadMotionFrame(0.0);
    EXPECT_GT(Op->Pool.LiveCount, 0);
    Op->ReadMotionFrame(30.0);
    EXPECT_TRUE(Op->Pool.LiveCount == 0 && Op->SystemLoaded == 0 && Op->Frame.Birth.ApplyBirthImage == 0);
    EXPECT_FALSE(Op->Player.IsOpen());  // the file is closed
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Disabled(Op->ControlInput("LoadSystem")), 1);  // the playback layout stays until "Unload System"
}

TEST_F(PlaybackTest, FilesThatCannotBeInterpolatedAreRefused) {
    const int32_t loadDisabled = Disabled(Op->ControlInput("LoadSystem"));
    MotionFileBuilder one(1);
    one.AddFrame(0, 10.0, 0, 3);
    const Bytes negative{0xf9, 0xff, 0xff, 0xff}, huge{0x00, 0xa3, 0xe1, 0x11};  // -7; a table past 4 GiB
    const std::vector<std::pair<std::string, std::optional<Bytes>>> files = {
        {"one frame", one.Data}, {"no frames", MotionFileBuilder(0).Data}, {"negative count", negative},
        {"huge count", huge},    {"two bytes", Bytes{5, 0}},                {"empty", Bytes{}},
        {"missing file", std::nullopt}};
    for (const auto& [what, data] : files) {
        SCOPED_TRACE(what);
        platform::Default().ClearRecords();
        data ? LoadFile(*data) : Load(Path("missing.lpd"), 0, 30);
        EXPECT_TRUE(Op->SystemLoaded == 0 && !Op->Player.IsOpen() && Op->ResetRequested == 0);
        EXPECT_EQ(Disabled(Op->ControlInput("LoadSystem")), loadDisabled);
        ExpectOnlyMessage(platform::MessageKind::LoadFailed, "Error on Loading File", "WARNING", 48);
    }
}

// Each case damages frames 0 and 1 of a good file: a request for them leaves the
// pool empty (after a good frame filled it), keeps the file and says nothing.
TEST_F(PlaybackTest, DamagedFramesShowNoParticles) {
    using F = MotionFileBuilder;
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::string, std::function<void(F&)>>> cases = {
        {"entry 0 never written", [](F& f) { f.SetEntry(0, 0, 0, 0, 0); }},
        {"entry 1 never written", [](F& f) { f.SetEntry(1, 0, 0, 0, 0); }},
        {"offset in the table", [](F& f) { f.SetEntry(0, 40.0, 0, 1, DataStart - 40); }},
        {"offset off the record grid", [](F& f) { f.SetEntry(0, 40.0, 0, 5, DataStart + 7); }},
        {"offset past the end", [](F& f) { f.SetEntry(0, 40.0, 0, 5, uint32_t(f.Data.size() + 4000)); }},
        {"offset near 4 GiB", [](F& f) { f.SetEntry(0, 40.0, 0, 5, 4294967284u); }},
        {"live count above 19999", [](F& f) { f.SetEntry(0, 40.0, 0, 20000, DataStart + 40); }},
        {"negative live count", [](F& f) { f.SetEntry(0, 40.0, 0, -3, DataStart + 40); }},
        {"live count beyond the file", [](F& f) { f.SetEntry(0, 40.0, 0, 1000, DataStart + 200); }},
        {"negative retired count", [](F& f) { f.SetEntry(1, 41.0, -2, 5, uint32_t(f.Data.size() - 200)); }},
        {"every particle retires", [](F& f) { f.SetEntry(1, 41.0, 5, 5, uint32_t(f.Data.size() - 200)); }},
        {"lifetime not a number", [](F& f) { f.SetEntry(0, std::nan(""), 0, 5, DataStart + 200); }},
        {"record not a number", [](F& f) { Put<double>(f.Data, DataStart + 200 + 40 * 3 + 8, inf); }},
        {"truncated record",  // frame 0's block moved to the end of the file and cut in its last record
         [](F& f) { f.SetEntry(0, 40.0, 0, 5, f.AddBlock(MakeFrame(0, 5))); f.Data.resize(f.Data.size() - 17); }},
    };
    for (auto& [what, damage] : cases) {
        SCOPED_TRACE(what);
        platform::Default().ClearRecords();
        MotionFileBuilder f = GoodFile();
        damage(f);
        LoadFile(f.Data);
        ASSERT_EQ(Op->SystemLoaded, 1);
        Op->ReadMotionFrame(30.0);  // frames 2 and 3 are fine
        EXPECT_EQ(Op->Pool.LiveCount, 4);
        Op->ReadMotionFrame(0.0);
        EXPECT_TRUE(Op->Pool.LiveCount == 0 && Op->Pool.OldestIndex == Op->Pool.NextIndex);
        EXPECT_TRUE(Op->SystemLoaded == 1 && Op->Player.IsOpen() && Messages().empty());
    }
}

TEST_F(PlaybackTest, LoadGivesBackTheShapesOfSimulatedParticles) {
    Image* shape = new Image(2, 2);
    shape->AddRef();  // the test's own reference
    Op->Pool.Particles[0].ShapeImage = shape;
    Op->Pool.NextIndex = 1;
    Op->Pool.LiveCount = 1;
    LoadFile(GoodFile().Data);
    EXPECT_EQ(shape->RefCount(), 1);
    EXPECT_EQ(Op->Pool.LiveCount, 0);
    shape->Recycle();
}
