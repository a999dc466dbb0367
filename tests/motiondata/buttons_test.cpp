// The file buttons: every message in its situation, the dialogs, and the control
// layouts of loading and unloading a system.
#include <sys/resource.h>

#include <csignal>
#include <functional>

#include "motion_test_support.h"

using namespace mdtest;

namespace {

std::string TextValue(Input* in) {
    std::string s = "<none>";
    if (Parameter* p = in->GetValue(0)) {
        if (p->DataType == DT_Text) s = static_cast<Text*>(p)->Value;
        p->Recycle();
    }
    return s;
}

}  // namespace

class ButtonsTest : public MotionTest {
protected:
    void SetUp() override {
        MotionTest::SetUp();
        MotionFileBuilder f(2);
        f.AddFrame(0, 10.0, 0, 2);
        f.AddFrame(1, 10.0, 0, 2);
        WriteBytes(Two, f.Data);
    }
    const std::string Run = Path("run.lpd"), Two = Path("two.lpd"), Missing = Path("missing.lpd");
};

TEST_F(ButtonsTest, EveryMessageInItsSituation) {
    using K = platform::MessageKind;
    struct Row {
        const char* situation;
        platform::MessageKind kind;
        std::string text, title;  // no text: no message at all
        int32_t icon;
        bool refused;  // nothing starts: no recording, no capture, no posted render
        std::function<void()> act;
    };
    const std::vector<Row> rows = {
        {"Record now after a cancelled save dialog", K::NoSaveFile, "No Save File Specified!", "Warning", 48, true,
         [&] { Press(Op->ControlInput("SaveFile"), Run); Press(Op->ControlInput("SaveFile")); H->Press(Op->ControlInput("RecordNow")); }},
        {"record file cannot be created", K::FileNotCreated, "Error on opening file", "Warning", 48, true,
         [&] { StartRecording(Path("no/such/dir/a.lpd"), 0, 10); EXPECT_EQ(Op->ResetRequested, 0); }},
        {"recording range empty (the file is kept)", K::RecordingRangeEmpty,
         "Recording range is empty!", "Warning", 48, true,
         [&] { WriteBytes(Run, {1, 2, 3}); StartRecording(Run, 20, 19); EXPECT_EQ(ReadBytes(Run), (Bytes{1, 2, 3})); }},
        {"recording table past 4 GiB (no file made)", K::RecordingRangeTooLong,
         "Recording range is too long!", "Warning", 48, true,
         [&] { StartRecording(Run, -2000000000, 2000000000); EXPECT_FALSE(std::filesystem::exists(Run)); }},
        {"Record now pressed twice, then its render", K::RecordingStopped, Run, "Particle Data Saved in File", 0, false,
         [&] {
             Press(Op->ControlInput("SaveFile"), Run); H->Press(Op->ControlInput("RecordNow")); H->Press(Op->ControlInput("RecordNow"));
             EXPECT_EQ(H->ServeMessages(), 1);
             EXPECT_EQ(ReadBytes(Run).size(), 4u);  // stopped before any frame
         }},
        {"Record now pressed twice after a failed write", K::RecordingWriteFailed,
         "Output File incomplete: writing failed!", "Warning", 48, false,
         [&] {
             // Writes fail as on a full disk: no byte may be written to a file.
             // (A device such as /dev/full is no longer opened for a recording.)
             struct rlimit old {};
             getrlimit(RLIMIT_FSIZE, &old);
             const auto previous = std::signal(SIGXFSZ, SIG_IGN);
             const struct rlimit none {0, old.rlim_max};
             setrlimit(RLIMIT_FSIZE, &none);
             Press(Op->ControlInput("SaveFile"), Run);
             H->Press(Op->ControlInput("RecordNow"));
             H->Press(Op->ControlInput("RecordNow"));
             setrlimit(RLIMIT_FSIZE, &old);
             std::signal(SIGXFSZ, previous);
         }},
        {"reset during the recording's render", K::Unspecified, "", "", 0, false,
         [&] {
             Press(Op->ControlInput("SaveFile"), Run); H->Press(Op->ControlInput("RecordNow"));
             H->TheFlow.PrepareFrame = [this](Operator*, double t) {
                 if (t == 13) H->Press(Op->ControlInput("ResetPosition"));
                 return true;
             };
             H->ServeMessages();
             EXPECT_FALSE(Op->Recorder.IsOpen());
             const Bytes b = ReadBytes(Run);  // frames 10..12 were written, 13 on not
             auto offset = [&](int k) { return Get<uint32_t>(b, motion_file::EntryOffset(k) + 16); };
             EXPECT_TRUE(offset(0) == 204u && offset(2) > 204u);
             for (int k = 3; k < 10; ++k) EXPECT_EQ(offset(k), 0u) << k;
         }},
        {"Load System during a recording (no load dialog)", K::FileAlreadyOpen,
         "Output File Open!", "Warning", 48, false,
         [&] {
             Press(Op->ControlInput("SaveFile"), Run); H->Press(Op->ControlInput("RecordNow")); H->Press(Op->ControlInput("LoadSystem"));
             EXPECT_TRUE(Op->SystemLoaded == 0 && platform::Default().Dialogs().size() == 1u);
         }},
        {"Record now while a system is loaded", K::FileAlreadyOpen, "Input File Open!", "Warning", 48, true,
         [&] { Load(Two, 0, 10); Press(Op->ControlInput("SaveFile"), Run); H->Press(Op->ControlInput("RecordNow")); }},
        {"load dialog cancelled", K::NoFileChosen,
         "Error on opening file", "Warning", 48, true, [&] { Press(Op->ControlInput("LoadSystem")); }},
        {"loaded file missing (layout kept, the flow keeps no name)", K::LoadFailed,
         "Error on Loading File", "WARNING", 48, true,
         [&] {
             const int32_t loadDisabled = Disabled(Op->ControlInput("LoadSystem"));
             Press(Op->ControlInput("LoadSystem"), Missing);
             EXPECT_TRUE(Op->SystemLoaded == 0 && Disabled(Op->ControlInput("LoadSystem")) == loadDisabled);
             EXPECT_NE(TextValue(Op->ControlInput("SystemFile")), Missing);
         }},
        {"shape range empty (the earlier set stays)", K::CaptureRangeEmpty,
         "Shape range is empty!", "Warning", 48, true,
         [&] {
             Op->Shapes.AdoptPreloaded(ShapeSet{std::vector<ShapeLevel>(2)});
             StartCapture(10, 5);
             EXPECT_TRUE(Op->Shapes.HasPreloaded() && Op->Shapes.Preloaded().Count() == 2);
         }},
        {"shape range absurdly long", K::CaptureRangeTooLong,
         "Shape range is too long!", "Warning", 48, true, [&] { StartCapture(0, 5e6); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.situation);
        NewTool(true);
        std::filesystem::remove(Run);
        row.act();
        if (row.text.empty()) {
            EXPECT_TRUE(Messages().empty());
        } else {
            ExpectOnlyMessage(row.kind, row.text, row.title, row.icon);
        }
        if (row.refused) {
            EXPECT_TRUE(Op->Recording == 0 && !Op->Shapes.Capturing() && Op->SkipCompositing == 0);
            EXPECT_TRUE(H->TheFlow.Port().Empty());
        }
    }
}

TEST_F(ButtonsTest, DialogsAskForALumetFileFromTheCurrentFolder) {
    Press(Op->ControlInput("SaveFile"), Run);
    EXPECT_EQ(Op->MotionFileName, Run);
    EXPECT_FALSE(std::filesystem::exists(Run));  // nothing is created yet
    Press(Op->ControlInput("LoadSystem"));
    const auto d = platform::Default().Dialogs();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].Title + "|" + d[1].Title, "Save Positon Data to File|Load Positon Data to File");
    for (int i : {0, 1}) {
        EXPECT_EQ(d[i].Filters, (decltype(d[i].Filters){{"Lumet Position Data", "*.lpd"}, {"All Files", "*.*"}}));
        EXPECT_EQ(d[i].DefaultExtension, ".lpd");
        EXPECT_EQ(d[i].InitialDirectory, platform::Default().CurrentDirectory());
    }
}

TEST_F(ButtonsTest, LoadAndUnloadSwitchTheControlLayouts) {
    ParticleOperator* o = Op;
    const int32_t fadeVisible = Visible(o->ControlInput("MergeSpline"));
    // Per set of switches turned on: the controls an unload shows, the view
    // controls it shows, and the controls of switches that are off.
    struct Config { std::vector<Input*> on, shown, views, hidden; };
    const std::vector<Config> configs = {
        {{o->ControlInput("EnableScale"), o->ControlInput("Attractor1Enable"), o->ControlInput("Bounce2Enable"), o->ControlInput("UseBirthSpline"), o->ControlInput("StrictMode")},
         {o->ControlInput("ResetPosition"), o->ControlInput("FastForward"), o->ControlInput("Birthrate"), o->ControlInput("GeneralSize"), o->ControlInput("SizeVariance"),
          o->ControlInput("Attractor1Strength"), o->ControlInput("Bounce2Roughness"), o->ControlInput("StrictDeviation"), o->ControlInput("PathBinding"),
          o->ControlInput("Turbulence"), o->ControlInput("Wind")},
         {o->ControlInput("Orientation"), o->ControlInput("GravityAngle"), o->ControlInput("Attractor1"), o->ControlInput("Bounce2Start"), o->ControlInput("BirthSpline")},
         {o->ControlInput("Attractor2"), o->ControlInput("Attractor2Strength"), o->ControlInput("Bounce1Start"), o->ControlInput("Start"), o->ControlInput("PathPolyline")}},
        {{o->ControlInput("PathBinding")}, {o->ControlInput("PathSpeedVariance"), o->ControlInput("StrictMode")}, {o->ControlInput("Start"), o->ControlInput("End"), o->ControlInput("PathPolyline")},
         {o->ControlInput("BirthSpline"), o->ControlInput("GeneralSize"), o->ControlInput("StrictDeviation"), o->ControlInput("Attractor1")}},
    };
    // on: 1 for the simulation's layout, 0 for playback's.
    const auto expectLayout = [&](const Config& c, int32_t on) {
        for (Input* in : c.shown) EXPECT_EQ(Visible(in), on) << in->Label;
        for (Input* in : c.views) EXPECT_EQ(Visible(in) + ViewVisible(in), 2 * on) << in->Label;
        for (Input* in : c.hidden) EXPECT_EQ(Visible(in), 0) << in->Label;
        for (Input* in : {o->ControlInput("Birthrate"), o->ControlInput("Lifetime"), o->ControlInput("Orientation"), o->ControlInput("LoadSystem")}) {
            EXPECT_EQ(Disabled(in), 1 - on) << in->Label;
        }
        EXPECT_EQ(Disabled(o->ControlInput("UnloadSystem")), on);
        EXPECT_EQ(Visible(o->ControlInput("MergeSpline")), fadeVisible);     // not part of the switch
        EXPECT_NE(Visible(o->ControlInput("MotionBlur")), 0);                // playback draws blurred too
        EXPECT_EQ(TextValue(o->ControlInput("SystemFile")), on ? "" : Two);  // the flow loads the same file when opened
    };
    for (const Config& c : configs) {
        for (Input* in : {o->ControlInput("EnableScale"), o->ControlInput("Attractor1Enable"), o->ControlInput("Attractor2Enable"), o->ControlInput("Bounce1Enable"),
                          o->ControlInput("Bounce2Enable"), o->ControlInput("UseBirthSpline"), o->ControlInput("PathBinding"), o->ControlInput("StrictMode")}) {
            H->SetNumber(in, 0);
        }
        for (Input* in : c.on) H->SetNumber(in, 1);
        Press(o->ControlInput("LoadSystem"), Two);
        ASSERT_EQ(o->SystemLoaded, 1);
        o->ReadMotionFrame(0.0);
        EXPECT_GT(o->Pool.LiveCount, 0);
        expectLayout(c, 0);
        H->Press(o->ControlInput("UnloadSystem"));
        EXPECT_TRUE(o->SystemLoaded == 0 && !o->Player.IsOpen() && o->Pool.LiveCount == 0);
        expectLayout(c, 1);
    }
    EXPECT_TRUE(Messages().empty());
}
