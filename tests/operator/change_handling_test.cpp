// The tool's reaction to control changes: mirror flags, shown and hidden
// controls, requests left for the next frame, the file and capture buttons, and
// when the host's own change handling runs.
#include <gtest/gtest.h>

#include <vector>

#include "common/tool_harness.h"
#include "host/tags.h"

namespace {

int32_t Disabled(const Input* in) { return in->GetAttrLong(Tags::Disabled, -1); }
int32_t Visible(const Input* in) { return in->GetAttrLong(Tags::Visible, -1); }
int32_t ViewVisible(const Input* in) { return in->GetAttrLong(Tags::ViewVisible, -1); }

class ChangeHandling : public ::testing::Test {
protected:
    ChangeHandling() {
        platform::Default().SetEcho(false);
        platform::Default().ClearRecords();
    }
    ~ChangeHandling() override { platform::Default().ClearRecords(); }
    // The host's change handling runs exactly `times` times for the call.
    template <class F>
    void ExpectBaseRuns(int times, F call) {
        const int64_t before = H.Op->BaseNotifyCount();
        call();
        EXPECT_EQ(H.Op->BaseNotifyCount() - before, times);
    }
    ToolHarness H;
};

// A check box whose flag mirrors it and whose dependants are shown while it is on.
struct Switch {
    Input* ParticleOperator::*Box;
    Flag ParticleOperator::*Mirror;
    std::vector<Input* ParticleOperator::*> ShownWhenOn;
    std::vector<Input* ParticleOperator::*> HiddenWhenOn;
};

TEST_F(ChangeHandling, CheckBoxesMirrorIntoFlagsAndShowTheirDependants) {
    using P = ParticleOperator;
    const std::vector<Switch> switches = {
        {&P::InBanking, &P::BankingEnabled, {}, {&P::InRotationSpeed, &P::InRotationVariance}},
        {&P::InStrictMode, &P::StrictModeEnabled, {&P::InStrictDeviation, &P::InMaximumDeviation}, {}},
        {&P::InPathBinding, &P::PathBindingEnabled, {&P::InPathPolyline}, {}},
        {&P::InColorTinting, &P::TintEnabled, {}, {}},
        {&P::InEnableBlur, &P::BlurEnabled, {&P::InBlurSpline, &P::InMaximumBlur}, {}},
        {&P::InEnableScale, &P::ScaleEnabled, {&P::InGeneralSize, &P::InSizeVariance}, {}},
        {&P::InEnableGrow, &P::GrowEnabled, {&P::InGrowSpline, &P::InMaximumSize}, {}},
        {&P::InEnableFade, &P::FadeEnabled, {&P::InMergeSpline}, {}},
        {&P::InUseBirthSpline, &P::UseBirthSpline, {&P::InBirthSpline}, {&P::InStart, &P::InEnd}},
    };
    ParticleOperator& op = *H.Op;
    for (const Switch& s : switches) {
        Input* box = op.*s.Box;
        SCOPED_TRACE(box->Label);
        for (double value : {1.0, 0.0, 1.7, 0.6}) {
            // The switch state is the value cut toward zero: 0.6 counts as off.
            const int32_t on = int32_t(value) != 0;
            ExpectBaseRuns(1, [&] { H.SetNumber(box, value); });
            EXPECT_EQ((op.*s.Mirror).load(), on) << value;
            for (auto m : s.ShownWhenOn) EXPECT_EQ(Visible(op.*m), on) << (op.*m)->Label;
            for (auto m : s.HiddenWhenOn) EXPECT_EQ(Visible(op.*m), 1 - on) << (op.*m)->Label;
        }
    }
}

TEST_F(ChangeHandling, ViewerControlsFollowBirthSplineAndPathBinding) {
    ParticleOperator& op = *H.Op;
    H.SetNumber(op.InUseBirthSpline, 1);
    EXPECT_EQ(ViewVisible(op.InBirthSpline), 1);
    EXPECT_EQ(ViewVisible(op.InStart), 0);
    EXPECT_EQ(ViewVisible(op.InEnd), 0);
    H.SetNumber(op.InUseBirthSpline, 0);
    EXPECT_EQ(ViewVisible(op.InBirthSpline), 0);
    EXPECT_EQ(ViewVisible(op.InStart), 1);
    EXPECT_EQ(ViewVisible(op.InEnd), 1);
    H.SetNumber(op.InPathBinding, 1);
    EXPECT_EQ(ViewVisible(op.InPathPolyline), 1);
    H.SetNumber(op.InPathBinding, 0);
    EXPECT_EQ(ViewVisible(op.InPathPolyline), 0);
}

TEST_F(ChangeHandling, AttractorSwitchGreysAndHidesItsPointAndStrength) {
    ParticleOperator& op = *H.Op;
    struct Case {
        Input *Box, *Point, *Strength;
        Attractor& Target;
    } cases[] = {{op.InAttractor1Enable, op.InAttractor1, op.InAttractor1Strength, op.Attractors[0]},
                 {op.InAttractor2Enable, op.InAttractor2, op.InAttractor2Strength, op.Attractors[1]}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.Box->Label);
        // Any value but exactly 0 switches it on, even one that cuts to 0.
        ExpectBaseRuns(1, [&] { H.SetNumber(c.Box, 0.3); });
        EXPECT_EQ(c.Target.AttractorEnabled.load(), 1);
        EXPECT_EQ(Disabled(c.Point), 0);
        EXPECT_EQ(Visible(c.Point), 1);
        EXPECT_EQ(ViewVisible(c.Point), 1);
        EXPECT_EQ(Disabled(c.Strength), 0);
        EXPECT_EQ(Visible(c.Strength), 1);
        H.SetNumber(c.Box, 0.0);
        EXPECT_EQ(c.Target.AttractorEnabled.load(), 0);
        EXPECT_EQ(Disabled(c.Point), 1);
        EXPECT_EQ(Visible(c.Point), 0);
        EXPECT_EQ(ViewVisible(c.Point), 0);
        EXPECT_EQ(Disabled(c.Strength), 1);
        EXPECT_EQ(Visible(c.Strength), 0);
    }
    // The other attractor is untouched by the first one's switch.
    H.SetNumber(op.InAttractor1Enable, 1);
    EXPECT_EQ(op.Attractors[1].AttractorEnabled.load(), 0);
}

TEST_F(ChangeHandling, BounceLineSwitchGreysAndHidesItsPointsAndSliders) {
    ParticleOperator& op = *H.Op;
    struct Case {
        Input *Box, *Start, *End, *Elasticity, *Roughness;
        BounceLine& Target;
    } cases[] = {
        {op.InBounce1Enable, op.InBounce1Start, op.InBounce1End, op.InBounce1Elasticity, op.InBounce1Roughness,
         op.BounceLines[0]},
        {op.InBounce2Enable, op.InBounce2Start, op.InBounce2End, op.InBounce2Elasticity, op.InBounce2Roughness,
         op.BounceLines[1]}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.Box->Label);
        for (double value : {1.0, 0.0}) {
            const int32_t on = value != 0.0;
            ExpectBaseRuns(1, [&] { H.SetNumber(c.Box, value); });
            EXPECT_EQ(c.Target.Enabled.load(), on);
            for (Input* point : {c.Start, c.End}) {
                EXPECT_EQ(Disabled(point), 1 - on);
                EXPECT_EQ(Visible(point), on);
                EXPECT_EQ(ViewVisible(point), on);
            }
            for (Input* slider : {c.Elasticity, c.Roughness}) {
                EXPECT_EQ(Disabled(slider), 1 - on);
                EXPECT_EQ(Visible(slider), on);
                EXPECT_EQ(ViewVisible(slider), -1) << "sliders have no viewer control";
            }
        }
    }
}

TEST_F(ChangeHandling, EditSwitchesOpenAndCloseTheirColourCurve) {
    ParticleOperator& op = *H.Op;
    const std::pair<Input*, Input*> pairs[] = {
        {op.InEditRed, op.InRedSpline}, {op.InEditGreen, op.InGreenSpline}, {op.InEditBlue, op.InBlueSpline}};
    for (auto [box, curve] : pairs) {
        EXPECT_EQ(curve->GetAttrLong(Tags::CurveEditing, -1), 0);
        ExpectBaseRuns(1, [&] { H.SetNumber(box, 1); });
        EXPECT_EQ(curve->GetAttrLong(Tags::CurveEditing, -1), 1) << curve->Label;
        H.SetNumber(box, 0);
        EXPECT_EQ(curve->GetAttrLong(Tags::CurveEditing, -1), 0) << curve->Label;
    }
    // Other curves keep their state.
    EXPECT_EQ(op.InColorMorph->GetAttrLong(Tags::CurveEditing, -1), 1);
}

TEST_F(ChangeHandling, ReverseIsOnAboveOneHalf) {
    ParticleOperator& op = *H.Op;
    ExpectBaseRuns(1, [&] { H.SetNumber(op.InReverse, 0.6); });
    EXPECT_EQ(op.ReversePlayback.load(), 1);
    H.SetNumber(op.InReverse, 0.5);
    EXPECT_EQ(op.ReversePlayback.load(), 0);
}

TEST_F(ChangeHandling, ResetAndFastForwardLeaveRequestsAndSkipTheHostHandling) {
    ParticleOperator& op = *H.Op;
    ExpectBaseRuns(0, [&] { H.SetNumber(op.InResetPosition, 0.4); });
    EXPECT_EQ(op.ResetRequested.load(), 0);
    EXPECT_EQ(op.CloseFilesOnReset.load(), 0);
    ExpectBaseRuns(0, [&] { H.Press(op.InResetPosition); });
    EXPECT_EQ(op.ResetRequested.load(), 1);
    EXPECT_EQ(op.CloseFilesOnReset.load(), 1);

    ExpectBaseRuns(0, [&] { H.SetNumber(op.InFastForward, 0.5); });
    EXPECT_EQ(op.FastForwardRequested.load(), 0);
    ExpectBaseRuns(0, [&] { H.Press(op.InFastForward); });
    EXPECT_EQ(op.FastForwardRequested.load(), 1);
}

TEST_F(ChangeHandling, NullValueRunsOnlyTheHostHandling) {
    ParticleOperator& op = *H.Op;
    H.SetNumber(op.InBanking, 1);
    for (Input* in : {op.InResetPosition, op.InFastForward, op.InBanking, op.InAttractor1Enable, op.InReverse,
                      op.InSaveFile, op.InPreloadShapes}) {
        ExpectBaseRuns(1, [&] { op.NotifyChanged(in, nullptr, 0); });
    }
    EXPECT_EQ(op.ResetRequested.load(), 0);
    EXPECT_EQ(op.FastForwardRequested.load(), 0);
    EXPECT_EQ(op.BankingEnabled.load(), 1);
    EXPECT_EQ(op.Attractors[0].AttractorEnabled.load(), 0);
    EXPECT_EQ(op.PreloadCapturing.load(), 0);
    EXPECT_TRUE(platform::Default().Dialogs().empty());
}

TEST_F(ChangeHandling, OtherInputsReachOnlyTheHostHandling) {
    ParticleOperator& op = *H.Op;
    ExpectBaseRuns(1, [&] { H.Press(op.InFreeze); });
    ExpectBaseRuns(1, [&] { H.SetNumber(op.InBirthrate, 12); });
    ExpectBaseRuns(1, [&] { H.SetPoint(op.InAttractor1, 0.1, 0.9); });
    EXPECT_EQ(op.ResetRequested.load(), 0);
    EXPECT_EQ(op.Attractors[0].AttractorEnabled.load(), 0);
}

TEST_F(ChangeHandling, ASwitchGivenANonNumberReadsAsOff) {
    ParticleOperator& op = *H.Op;
    H.SetNumber(op.InBanking, 1);
    H.SetNumber(op.InAttractor1Enable, 1);
    H.Set(op.InBanking, new Point(1, 1));
    EXPECT_EQ(op.BankingEnabled.load(), 0);
    Text* text = new Text("1");
    op.NotifyChanged(op.InAttractor1Enable, text, 0);
    text->Recycle();
    EXPECT_EQ(op.Attractors[0].AttractorEnabled.load(), 0);
}

TEST_F(ChangeHandling, FileButtonsRunTheirActionsOnlyWhenPressed) {
    ParticleOperator& op = *H.Op;
    platform::CommandLinePlatform& pf = platform::Default();
    // Not pressed: nothing opens.
    for (Input* button : {op.InSaveFile, op.InLoadSystem, op.InRecordNow}) {
        ExpectBaseRuns(1, [&] { H.SetNumber(button, 0.5); });
    }
    EXPECT_TRUE(pf.Dialogs().empty());
    EXPECT_TRUE(pf.Messages().empty());

    // "Save MotionData under..." opens the save dialog (cancelled: no file name).
    ExpectBaseRuns(1, [&] { H.Press(op.InSaveFile); });
    ASSERT_EQ(pf.Dialogs().size(), 1u);
    EXPECT_EQ(pf.Dialogs()[0].Title, "Save Positon Data to File");
    // "Record now" without a file name warns.
    ExpectBaseRuns(1, [&] { H.Press(op.InRecordNow); });
    ASSERT_EQ(pf.Messages().size(), 1u);
    EXPECT_EQ(pf.Messages()[0].Text, "No Save File Specified!");
    // "Load System" opens the load dialog; cancelled, it warns.
    ExpectBaseRuns(1, [&] { H.Press(op.InLoadSystem); });
    ASSERT_EQ(pf.Dialogs().size(), 2u);
    EXPECT_EQ(pf.Dialogs()[1].Title, "Load Positon Data to File");
    ASSERT_EQ(pf.Messages().size(), 2u);
    EXPECT_EQ(pf.Messages()[1].Text, "Error on opening file");

    // A text button notified with a text parameter counts as pressed.
    Text* press = new Text("");
    op.NotifyChanged(op.InSaveFile, press, 0);
    press->Recycle();
    EXPECT_EQ(pf.Dialogs().size(), 3u);
}

TEST_F(ChangeHandling, UnloadButtonEmptiesTheStoredFileName) {
    ParticleOperator& op = *H.Op;
    Text* name = new Text("somewhere.lpd");
    op.InSystemFile->SetValue(name, 0, 1);
    name->Recycle();
    H.SetNumber(op.InUnloadSystem, 0.4);
    Parameter* kept = op.InSystemFile->GetValue(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(static_cast<Text*>(kept)->Value, "somewhere.lpd");
    kept->Recycle();

    ExpectBaseRuns(1, [&] { H.Press(op.InUnloadSystem); });
    Parameter* now = op.InSystemFile->GetValue(0);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(static_cast<Text*>(now)->Value, "");
    now->Recycle();
    EXPECT_EQ(Disabled(op.InUnloadSystem), 1);
    EXPECT_EQ(Disabled(op.InLoadSystem), 0);
}

TEST_F(ChangeHandling, CaptureButtonsActOnAWholeNonZeroValue) {
    ParticleOperator& op = *H.Op;
    ExpectBaseRuns(1, [&] { H.Press(op.InPreloadShapes); });
    EXPECT_EQ(op.PreloadCapturing.load(), 1);
    EXPECT_EQ(Disabled(op.InPreloadShapes), 1);
    EXPECT_EQ(Disabled(op.InDeletePreloaded), 0);

    // 0.7 counts as pressed for the file buttons, but these two cut the value
    // to a whole number first: no action.
    Number* almost = new Number(0.7);
    op.NotifyChanged(op.InDeletePreloaded, almost, 0);
    EXPECT_EQ(Disabled(op.InDeletePreloaded), 0);

    ExpectBaseRuns(1, [&] { H.Press(op.InDeletePreloaded); });
    EXPECT_EQ(op.PreloadedPresent.load(), 0);
    EXPECT_EQ(Disabled(op.InDeletePreloaded), 1);
    EXPECT_EQ(Disabled(op.InPreloadShapes), 0);

    op.NotifyChanged(op.InPreloadShapes, almost, 0);
    EXPECT_EQ(Disabled(op.InPreloadShapes), 0);
    EXPECT_EQ(op.PreloadCapturing.load(), 0);
    almost->Recycle();
}

}  // namespace
