// The file buttons: dialogs, every message in its situation, load and unload of
// a system with its control layouts, and the render end of a recording.
#include "motion_test_support.h"

using namespace mdtest;

namespace {

Bytes TwoFrameFile() {
    MotionFileBuilder f(2);
    f.AddFrame(0, 10.0, 0, MakeFrame(0, 2));
    f.AddFrame(1, 10.0, 0, MakeFrame(1, 2));
    return f.Data;
}

}  // namespace

using ButtonsTest = MotionTest;

TEST_F(ButtonsTest, SaveDialogAsksForALumetFileFromTheCurrentFolder) {
    ChooseSaveFile(Path("a.lpd"));
    EXPECT_EQ(Op->MotionFileName, Path("a.lpd"));
    const auto dialogs = platform::Default().Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].Title, "Save Positon Data to File");
    ASSERT_EQ(dialogs[0].Filters.size(), 2u);
    EXPECT_EQ(dialogs[0].Filters[0], (std::pair<std::string, std::string>{"Lumet Position Data", "*.lpd"}));
    EXPECT_EQ(dialogs[0].Filters[1], (std::pair<std::string, std::string>{"All Files", "*.*"}));
    EXPECT_EQ(dialogs[0].DefaultExtension, ".lpd");
    EXPECT_EQ(dialogs[0].InitialDirectory, platform::Default().CurrentDirectory());
    EXPECT_EQ(Op->InitialDirectory, platform::Default().CurrentDirectory());
    EXPECT_FALSE(std::filesystem::exists(Path("a.lpd")));  // nothing is created yet
}

TEST_F(ButtonsTest, CancelledSaveDialogLeadsToNoSaveFileSpecified) {
    ChooseSaveFile(Path("a.lpd"));
    platform::Default().QueueDialogAnswer(std::nullopt);
    H->Press(Op->InSaveFile);
    EXPECT_EQ(Op->MotionFileName, "");
    H->Press(Op->InRecordNow);
    EXPECT_EQ(Op->Recording, 0);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "No Save File Specified!", "Warning", 48);
    EXPECT_TRUE(H->TheFlow.Port().Empty());
}

TEST_F(ButtonsTest, RecordFileThatCannotBeCreated) {
    StartRecording(Path("no/such/folder/a.lpd"), 0, 10);
    EXPECT_EQ(Op->Recording, 0);
    EXPECT_EQ(Op->SkipCompositing, 0);
    EXPECT_EQ(Op->ResetRequested, 0);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Error on opening file", "Warning", 48);
}

TEST_F(ButtonsTest, RecordNowPressedTwiceStopsWithTheFileNameAndRenderEndIsSilent) {
    const std::string path = Path("run.lpd");
    StartRecording(path, 0, 10);
    H->Press(Op->InRecordNow);
    EXPECT_EQ(Op->Recording, 0);
    EXPECT_EQ(Op->RecordFile, platform::NoFile);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], path, "Particle Data Saved in File", 0);
    Op->OnEndRender();
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Op->SkipCompositing, 0);
}

TEST_F(ButtonsTest, ResetDuringRecordingClosesTheFileAndRenderEndIsSilent) {
    StartRecording(Path("run.lpd"), 0, 10);
    H->Press(Op->InResetPosition);
    EXPECT_EQ(Op->CloseFilesOnReset, 1);
    // What the next frame does with the request.
    Op->ClearParticles();
    Op->CloseMotionFiles();
    EXPECT_EQ(Op->RecordFile, platform::NoFile);
    EXPECT_EQ(Op->Recording, 0);
    Op->OnEndRender();
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ButtonsTest, RecordingAndPlaybackExcludeEachOther) {
    WriteFile(Path("two.lpd"), TwoFrameFile());
    StartRecording(Path("run.lpd"), 0, 10);
    H->Press(Op->InLoadSystem);
    EXPECT_EQ(Op->SystemLoaded, 0);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File Open!", "Warning", 48);
    EXPECT_TRUE(platform::Default().Dialogs().size() == 1u);  // only the save dialog was shown
    Op->OnEndRender();

    platform::Default().ClearRecords();
    Load(Path("two.lpd"), 0, 10);
    ASSERT_EQ(Op->SystemLoaded, 1);
    H->TheFlow.Port().GetMsg();
    H->Press(Op->InRecordNow);
    EXPECT_EQ(Op->Recording, 0);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Input File Open!", "Warning", 48);
    EXPECT_TRUE(H->TheFlow.Port().Empty());
}

TEST_F(ButtonsTest, RenderEndClosesTheRecordingWithConfirmation) {
    StartRecording(Path("run.lpd"), 0, 10);
    Op->OnEndRender();
    EXPECT_EQ(Op->RecordFile, platform::NoFile);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Output File written!", "Confirm", 64);
    Op->OnEndRender();  // a later render has nothing more to say
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(ButtonsTest, LoadButtonKeepsTheNameForTheFlow) {
    const std::string path = Path("two.lpd");
    WriteFile(path, TwoFrameFile());
    platform::Default().QueueDialogAnswer(path);
    H->Press(Op->InLoadSystem, 3.0);
    EXPECT_EQ(Op->SystemLoaded, 1);
    EXPECT_EQ(Op->MotionFileName, path);
    EXPECT_EQ(TextValue(Op->InSystemFile), path);
    const auto dialogs = platform::Default().Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].Title, "Load Positon Data to File");
    EXPECT_EQ(dialogs[0].DefaultExtension, ".lpd");
    EXPECT_EQ(dialogs[0].Filters.size(), 2u);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ButtonsTest, CancelledOrFailedLoadKeepsEverything) {
    platform::Default().QueueDialogAnswer(std::nullopt);
    H->Press(Op->InLoadSystem);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Error on opening file", "Warning", 48);
    EXPECT_EQ(Op->SystemLoaded, 0);

    platform::Default().ClearRecords();
    const int32_t loadDisabled = Disabled(Op->InLoadSystem);
    platform::Default().QueueDialogAnswer(Path("missing.lpd"));
    H->Press(Op->InLoadSystem);
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Error on Loading File", "WARNING", 48);
    EXPECT_EQ(Op->SystemLoaded, 0);
    EXPECT_EQ(Disabled(Op->InLoadSystem), loadDisabled);
    EXPECT_NE(TextValue(Op->InSystemFile), Path("missing.lpd"));
}

TEST_F(ButtonsTest, FailedReloadDoesNotKeepTheMissingName) {
    const std::string path = Path("two.lpd");
    WriteFile(path, TwoFrameFile());
    platform::Default().QueueDialogAnswer(path);
    H->Press(Op->InLoadSystem);
    platform::Default().QueueDialogAnswer(Path("missing.lpd"));
    H->Press(Op->InLoadSystem);
    EXPECT_EQ(TextValue(Op->InSystemFile), path);
}

TEST_F(ButtonsTest, UnloadRestoresTheControlsFollowingTheirSwitches) {
    WriteFile(Path("two.lpd"), TwoFrameFile());
    // Switch states before the load: scale and attractor 1 on, bounce line 2 on,
    // birth spline on, strict mode on; the others off.
    H->SetNumber(Op->InEnableScale, 1);
    H->SetNumber(Op->InAttractor1Enable, 1);
    H->SetNumber(Op->InBounce2Enable, 1);
    H->SetNumber(Op->InUseBirthSpline, 1);
    H->SetNumber(Op->InStrictMode, 1);
    platform::Default().QueueDialogAnswer(Path("two.lpd"));
    H->Press(Op->InLoadSystem);
    ASSERT_EQ(Op->SystemLoaded, 1);
    Op->ReadMotionFrame(0.0);
    ASSERT_GT(Op->LiveCount, 0);

    H->Press(Op->InUnloadSystem, 2.0);
    EXPECT_EQ(Op->SystemLoaded, 0);
    EXPECT_EQ(Op->PlaybackFile, platform::NoFile);
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(TextValue(Op->InSystemFile), "");
    EXPECT_EQ(Disabled(Op->InLoadSystem), 0);
    EXPECT_EQ(Disabled(Op->InUnloadSystem), 1);
    for (Input* in : {Op->InResetPosition, Op->InFastForward, Op->InBirthrate, Op->InRotationSpeed,
                      Op->InBounce1Enable, Op->InApplyBirthImage, Op->InOrientation, Op->InGravityAngle}) {
        EXPECT_EQ(Disabled(in), 0) << in->Label;
        EXPECT_EQ(Visible(in), 1) << in->Label;
    }
    EXPECT_EQ(ViewVisible(Op->InOrientation), 1);
    EXPECT_EQ(ViewVisible(Op->InGravityAngle), 1);
    // Switches on: their controls come back.
    for (Input* in : {Op->InGeneralSize, Op->InSizeVariance, Op->InAttractor1Strength, Op->InBounce2Elasticity,
                      Op->InBounce2Roughness}) {
        EXPECT_EQ(Disabled(in), 0) << in->Label;
        EXPECT_EQ(Visible(in), 1) << in->Label;
    }
    for (Input* in : {Op->InAttractor1, Op->InBounce2Start, Op->InBounce2End, Op->InBirthSpline}) {
        EXPECT_EQ(Visible(in), 1) << in->Label;
        EXPECT_EQ(ViewVisible(in), 1) << in->Label;
    }
    EXPECT_EQ(Visible(Op->InStrictDeviation), 1);
    EXPECT_EQ(Visible(Op->InMaximumDeviation), 1);
    EXPECT_EQ(Visible(Op->InUseBirthSpline), 1);
    EXPECT_EQ(Visible(Op->InPathBinding), 1);
    EXPECT_EQ(Visible(Op->InPathSpeedVariance), 1);
    EXPECT_EQ(Visible(Op->InStrictMode), 1);
    // Switches off: their controls stay hidden.
    for (Input* in : {Op->InAttractor2, Op->InAttractor2Strength, Op->InBounce1Start, Op->InBounce1Elasticity,
                      Op->InStart, Op->InEnd, Op->InPathPolyline}) {
        EXPECT_EQ(Visible(in), 0) << in->Label;
    }
    EXPECT_EQ(Disabled(Op->InAttractor2), 1);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ButtonsTest, UnloadWithBirthLineShowsStartAndEnd) {
    WriteFile(Path("two.lpd"), TwoFrameFile());
    H->SetNumber(Op->InPathBinding, 1);
    Load(Path("two.lpd"), 0, 10);
    H->Press(Op->InUnloadSystem);
    for (Input* in : {Op->InStart, Op->InEnd, Op->InPathPolyline}) {
        EXPECT_EQ(Visible(in), 1) << in->Label;
        EXPECT_EQ(ViewVisible(in), 1) << in->Label;
    }
    EXPECT_EQ(Visible(Op->InBirthSpline), 0);
    EXPECT_EQ(Visible(Op->InGeneralSize), 0);
    EXPECT_EQ(Visible(Op->InStrictDeviation), 0);
}
