// Playback: loading, the interpolation of a requested time between the two
// nearest recorded frames, the end of a file, and damaged or hostile files.
#include <cmath>
#include <functional>

#include "motion_test_support.h"

using namespace mdtest;

namespace {

// Four recorded frames; entry k+1's retired count tells how many of frame k's
// oldest particles are gone in frame k+1.
constexpr int32_t Frames = 4;
constexpr int32_t Live[Frames] = {5, 5, 5, 4};
constexpr int32_t Retired[Frames] = {0, 2, 0, 1};
constexpr double Lifetimes[Frames] = {40.0, 41.0, 42.0, 43.0};

MotionFileBuilder GoodFile() {
    MotionFileBuilder f(Frames);
    // Blocks in an order other than the frames', as a recording rendered out of
    // order would leave them.
    for (int k : {2, 0, 3, 1}) f.AddFrame(k, Lifetimes[k], Retired[k], MakeFrame(k, Live[k]));
    return f;
}

}  // namespace

class PlaybackTest : public MotionTest {
protected:
    void LoadGood(int32_t start = 0, int32_t last = 30) {
        WriteFile(Path("good.lpd"), GoodFile().Data);
        Load(Path("good.lpd"), start, last);
        ASSERT_EQ(Op->SystemLoaded, 1);
    }
    // The pool must hold frame k's particles from R on, blended with frame k+1's.
    void ExpectBlend(int k, double f) {
        const int32_t r = Retired[k + 1];
        const int32_t shared = Live[k] - r;
        ASSERT_EQ(Op->LiveCount, shared);
        EXPECT_EQ(Op->Lifetime, Lifetimes[k]);
        for (int i = 0; i < shared; ++i) {
            const Record a = MakeRecord(k, r + i), b = MakeRecord(k + 1, i);
            const Particle& p = Op->LiveParticle(i);
            EXPECT_DOUBLE_EQ(p.Position.x, (1 - f) * a.X + f * b.X) << i;
            EXPECT_DOUBLE_EQ(p.Position.y, (1 - f) * a.Y + f * b.Y) << i;
            EXPECT_DOUBLE_EQ(p.Angle, (1 - f) * a.Angle + f * b.Angle) << i;
            EXPECT_DOUBLE_EQ(p.Age, (1 - f) * a.Age + f * b.Age) << i;
            EXPECT_DOUBLE_EQ(p.Size, (1 - f) * a.Size + f * b.Size) << i;
            EXPECT_EQ(p.ShapeImage, nullptr);
        }
        EXPECT_EQ(Op->ApplyBirthImage, 1);
    }
};

TEST_F(PlaybackTest, LoadSetsFlagsCountAndPlaybackLayout) {
    const int32_t fadeVisible = Visible(Op->InMergeSpline);
    LoadGood();
    EXPECT_EQ(Op->FileFrameCount, Frames);
    EXPECT_EQ(Op->NextDataOffset, 84u);
    EXPECT_EQ(Op->ResetRequested, 1);
    EXPECT_EQ(Op->ApplyBirthImage, 1);
    EXPECT_NE(Op->PlaybackFile, platform::NoFile);
    EXPECT_EQ(Disabled(Op->InLoadSystem), 1);
    EXPECT_EQ(Disabled(Op->InUnloadSystem), 0);
    EXPECT_EQ(Visible(Op->InResetPosition), 0);
    EXPECT_EQ(Visible(Op->InFastForward), 0);
    for (Input* in : {Op->InBirthrate, Op->InLifetime, Op->InBounce2Enable, Op->InAttractor1Strength}) {
        EXPECT_EQ(Disabled(in), 1) << in->Label;
        EXPECT_EQ(Visible(in), 0) << in->Label;
    }
    EXPECT_EQ(Visible(Op->InGeneralSize), 0);
    for (Input* in : {Op->InOrientation, Op->InStart, Op->InBounce2End}) {
        EXPECT_EQ(Disabled(in), 1) << in->Label;
        EXPECT_EQ(Visible(in), 0) << in->Label;
        EXPECT_EQ(ViewVisible(in), 0) << in->Label;
    }
    EXPECT_EQ(Visible(Op->InStrictMode), 0);
    EXPECT_EQ(Visible(Op->InPathPolyline), 0);
    EXPECT_EQ(ViewVisible(Op->InBirthSpline), 0);
    EXPECT_EQ(Visible(Op->InMergeSpline), fadeVisible);  // not part of the switch
    EXPECT_TRUE(Messages().empty());
}

TEST_F(PlaybackTest, FirstAndLastFramesOfTheRangeForwards) {
    LoadGood();
    Op->ReadMotionFrame(0.0);
    EXPECT_EQ(Op->PlaybackPosition, 0.0);
    ExpectBlend(0, 0.0);  // frame 0 without its first R = 2 records

    Op->ReadMotionFrame(30.0);
    EXPECT_DOUBLE_EQ(Op->PlaybackPosition, Frames - 1.01);
    ExpectBlend(Frames - 2, (Frames - 1.01) - (Frames - 2));  // k = N-2, f = 0.99
    EXPECT_NEAR((Frames - 1.01) - (Frames - 2), 0.99, 1e-12);

    Op->ReadMotionFrame(15.0);
    ExpectBlend(1, 0.5 * (Frames - 1.01) - 1);
}

TEST_F(PlaybackTest, ReversedMapsTheRangeBackwards) {
    LoadGood();
    Op->ReversePlayback = 1;
    Op->ReadMotionFrame(0.0);
    ExpectBlend(Frames - 2, (Frames - 1.01) - (Frames - 2));
    Op->ReadMotionFrame(30.0);
    ExpectBlend(0, 0.0);
    Op->ReadMotionFrame(10.0);
    const double pos = (1.0 - 10.0 / 30.0) * (Frames - 1.01);
    ExpectBlend(int(pos), pos - int(pos));
}

TEST_F(PlaybackTest, OutsideTheRangeNoParticlesAndTheFileStays) {
    LoadGood(10, 40);
    Op->ReadMotionFrame(25.0);
    EXPECT_GT(Op->LiveCount, 0);
    for (double t : {9.999, 40.001, -5.0}) {
        Op->ReadMotionFrame(t);
        EXPECT_EQ(Op->LiveCount, 0) << t;
    }
    EXPECT_EQ(Op->SystemLoaded, 1);
    EXPECT_NE(Op->PlaybackFile, platform::NoFile);
    Op->ReadMotionFrame(10.0);
    ExpectBlend(0, 0.0);
}

TEST_F(PlaybackTest, EndOfFileEndsPlaybackSilently) {
    MotionFileBuilder f = GoodFile();
    // Frame 3's block is announced but never reached the file.
    f.SetEntry(3, Lifetimes[3], Retired[3], Live[3], uint32_t(f.Data.size()));
    WriteFile(Path("short.lpd"), f.Data);
    Load(Path("short.lpd"), 0, 30);
    Op->ReadMotionFrame(0.0);
    EXPECT_GT(Op->LiveCount, 0);
    Op->ReadMotionFrame(30.0);
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(Op->PlaybackFile, platform::NoFile);
    EXPECT_EQ(Op->SystemLoaded, 0);
    EXPECT_EQ(Op->ApplyBirthImage, 0);
    EXPECT_TRUE(Messages().empty());
    // The controls keep their playback layout until "Unload System".
    EXPECT_EQ(Disabled(Op->InLoadSystem), 1);
}

TEST_F(PlaybackTest, SpanZeroShowsNoParticlesAndSaysNothing) {
    LoadGood(5, 5);
    Op->ReadMotionFrame(5.0);
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(Op->SystemLoaded, 1);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(PlaybackTest, FilesThatCannotBeInterpolatedAreRefused) {
    const int32_t loadDisabled = Disabled(Op->InLoadSystem);
    std::vector<std::pair<std::string, Bytes>> files;
    MotionFileBuilder one(1);
    one.AddFrame(0, 10.0, 0, MakeFrame(0, 3));
    files.emplace_back("one frame", one.Data);
    files.emplace_back("no frames", MotionFileBuilder(0).Data);
    Bytes negative;
    Put<int32_t>(negative, 0, -7);
    files.emplace_back("negative count", negative);
    files.emplace_back("two bytes", Bytes{5, 0});
    files.emplace_back("empty", Bytes{});
    Bytes huge;
    Put<int32_t>(huge, 0, 300000000);  // its table would pass 4 GiB
    files.emplace_back("huge count", huge);
    for (auto& [what, data] : files) {
        platform::Default().ClearRecords();
        WriteFile(Path("bad.lpd"), data);
        Load(Path("bad.lpd"), 0, 30);
        EXPECT_EQ(Op->SystemLoaded, 0) << what;
        EXPECT_EQ(Op->PlaybackFile, platform::NoFile) << what;
        EXPECT_EQ(Op->ResetRequested, 0) << what;
        EXPECT_EQ(Disabled(Op->InLoadSystem), loadDisabled) << what;
        ASSERT_EQ(Messages().size(), 1u) << what;
        ExpectMessage(Messages()[0], "Error on Loading File", "WARNING", 48);
    }
    platform::Default().ClearRecords();
    Load(Path("missing.lpd"), 0, 30);
    EXPECT_EQ(Op->SystemLoaded, 0);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Error on Loading File", "WARNING", 48);
}

// Each case damages frames 0 and 1 of a good file; a request for them must leave
// the pool empty (after a good frame filled it), keep the file and say nothing.
TEST_F(PlaybackTest, DamagedFramesShowNoParticles) {
    const uint32_t dataStart = 84;
    std::vector<std::pair<std::string, std::function<void(MotionFileBuilder&)>>> cases = {
        {"entry 0 never written", [](MotionFileBuilder& f) { f.SetEntry(0, 0, 0, 0, 0); }},
        {"entry 1 never written", [](MotionFileBuilder& f) { f.SetEntry(1, 0, 0, 0, 0); }},
        {"offset in the table", [&](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, 1, dataStart - 40); }},
        {"offset off the record grid", [&](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, 5, dataStart + 7); }},
        {"offset past the end",
         [](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, 5, uint32_t(f.Data.size() + 4000)); }},
        {"offset near 4 GiB", [](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, 5, 4294967284u); }},
        {"live count above the pool", [&](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, 20000, dataStart + 40); }},
        {"negative live count", [&](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, -3, dataStart + 40); }},
        {"live count beyond the file", [&](MotionFileBuilder& f) { f.SetEntry(0, 40.0, 0, 1000, dataStart + 200); }},
        {"negative retired count",
         [&](MotionFileBuilder& f) { f.SetEntry(1, 41.0, -2, 5, uint32_t(f.Data.size() - 200)); }},
        {"lifetime not a number",
         [&](MotionFileBuilder& f) { f.SetEntry(0, std::nan(""), 0, 5, dataStart + 200); }},
        {"record not a number",
         [&](MotionFileBuilder& f) {
             Put<double>(f.Data, dataStart + 200 + 40 * 3 + 8, std::numeric_limits<double>::infinity());
         }},
        {"truncated record",
         [&](MotionFileBuilder& f) {
             // Frame 0's block moved to the end of the file and cut in its last record.
             uint32_t off = f.AddBlock(MakeFrame(0, 5));
             f.SetEntry(0, 40.0, 0, 5, off);
             f.Data.resize(f.Data.size() - 17);
         }},
    };
    for (auto& [what, damage] : cases) {
        platform::Default().ClearRecords();
        MotionFileBuilder f = GoodFile();
        damage(f);
        WriteFile(Path("damaged.lpd"), f.Data);
        Load(Path("damaged.lpd"), 0, 30);
        ASSERT_EQ(Op->SystemLoaded, 1) << what;
        Op->ReadMotionFrame(30.0);  // frames 2 and 3 are fine
        EXPECT_EQ(Op->LiveCount, 4) << what;
        Op->ReadMotionFrame(0.0);
        EXPECT_EQ(Op->LiveCount, 0) << what;
        EXPECT_EQ(Op->OldestIndex, Op->NextIndex) << what;
        EXPECT_EQ(Op->SystemLoaded, 1) << what;
        EXPECT_NE(Op->PlaybackFile, platform::NoFile) << what;
        EXPECT_TRUE(Messages().empty()) << what;
    }
}

TEST_F(PlaybackTest, RetiredAtLeastLiveGivesAnEmptyFrame) {
    MotionFileBuilder f = GoodFile();
    f.SetEntry(1, 41.0, 5, 5, 644);  // all five of frame 0 retire
    WriteFile(Path("gone.lpd"), f.Data);
    Load(Path("gone.lpd"), 0, 30);
    Op->ReadMotionFrame(0.0);
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(Op->Lifetime, 40.0);
    EXPECT_EQ(Op->ApplyBirthImage, 1);
}

TEST_F(PlaybackTest, LoadGivesBackTheShapesOfSimulatedParticles) {
    Image* shape = new Image(2, 2);
    shape->AddRef();  // the test's own reference
    Op->Particles[0].ShapeImage = shape;
    Op->NextIndex = 1;
    Op->LiveCount = 1;
    LoadGood();
    EXPECT_EQ(shape->RefCount(), 1);
    EXPECT_EQ(Op->LiveCount, 0);
    shape->Recycle();
}

TEST_F(PlaybackTest, PlaybackWithoutAFileShowsNoParticles) {
    LoadGood();
    Op->ReadMotionFrame(0.0);
    ASSERT_GT(Op->LiveCount, 0);
    // The load button closes the held file before its dialog; a cancelled dialog
    // leaves the flag without a file.
    platform::Default().QueueDialogAnswer(std::nullopt);
    H->Press(Op->InLoadSystem);
    EXPECT_EQ(Op->PlaybackFile, platform::NoFile);
    Op->ReadMotionFrame(0.0);
    EXPECT_EQ(Op->LiveCount, 0);
}
