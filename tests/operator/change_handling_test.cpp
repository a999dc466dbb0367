// The tool's reaction to control changes, row by row of its change handler:
// mirror flags, shown, hidden and greyed controls, requests left for the next
// frame, the file and capture buttons, and when the host's own handling runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/tool_harness.h"
#include "host/tags.h"

namespace {

using P = ParticleOperator;

// A named reading of the tool's state.
struct Probe {
    const char* Name;
    int32_t (*Get)(P&);
};
#define FLAG(expr) Probe{#expr, [](P& o) { return int32_t(o.expr.load()); }}
#define ATTR(in, tag) Probe{#in " " #tag, [](P& o) { return o.in->GetAttrLong(Tags::tag, -1); }}
#define VIS(in) ATTR(in, Visible)
#define VIEW(in) ATTR(in, ViewVisible)
#define DIS(in) ATTR(in, Disabled)
#define EDIT(in) ATTR(in, CurveEditing)
#define CAPTURING Probe{"capturing", [](P& o) { return int32_t(o.Shapes.Capturing()); }}
#define PRELOADED Probe{"preloaded", [](P& o) { return int32_t(o.Shapes.HasPreloaded()); }}
#define COUNT(list) Probe{#list, [](P&) { return int32_t(platform::Default().list().size()); }}

class ChangeHandling : public ::testing::Test {
protected:
    ChangeHandling() {
        platform::Default().SetEcho(false);
        platform::Default().ClearRecords();
    }
    ~ChangeHandling() override { platform::Default().ClearRecords(); }
    // A change of the input to a number, as a user's edit or a button press makes
    // it; returns how often the host's own handling ran.
    int64_t Change(Input* in, double value) {
        const int64_t before = H.Op->BaseNotifyCount();
        if (in->DataType == DT_Text) {
            Number* n = new Number(value);
            H.Op->NotifyChanged(in, n, 0);
            n->Recycle();
        } else {
            H.SetNumber(in, value);
        }
        return H.Op->BaseNotifyCount() - before;
    }
    ToolHarness H;
};

// A switch: the readings that follow its state, those that take the opposite
// and those it leaves off or unset (0 or -1). Its state for the values 1, 0.3, 0.6, 0.5, 1.7
// and 0 is given as a pattern: cut toward zero, any value but exactly 0, or
// above one half.
const char* const Cut = "100010";
const char* const NonZero = "111110";
const char* const AboveHalf = "101010";
struct Switch {
    Input* P::*Box;
    const char* Pattern;
    std::vector<Probe> On, Off = {}, Unset = {};
};

TEST_F(ChangeHandling, EverySwitchSetsItsFlagAndItsControlsForEachValue) {
    const std::vector<Switch> switches = {
        {&P::InBanking, Cut, {FLAG(BankingEnabled)}, {VIS(InRotationSpeed), VIS(InRotationVariance)}},
        {&P::InStrictMode, Cut, {FLAG(StrictModeEnabled), VIS(InStrictDeviation), VIS(InMaximumDeviation)}},
        {&P::InPathBinding, Cut, {FLAG(PathBindingEnabled), VIS(InPathPolyline), VIEW(InPathPolyline)}},
        {&P::InColorTinting, Cut, {FLAG(TintEnabled)}},
        {&P::InEnableBlur, Cut, {FLAG(BlurEnabled), VIS(InBlurSpline), VIS(InMaximumBlur)}},
        {&P::InEnableScale, Cut, {FLAG(ScaleEnabled), VIS(InGeneralSize), VIS(InSizeVariance)}},
        {&P::InEnableGrow, Cut, {FLAG(GrowEnabled), VIS(InGrowSpline), VIS(InMaximumSize)}},
        {&P::InEnableFade, Cut, {FLAG(FadeEnabled), VIS(InMergeSpline)}},
        {&P::InUseBirthSpline, Cut, {FLAG(UseBirthSpline), VIS(InBirthSpline), VIEW(InBirthSpline)},
         {VIS(InStart), VIEW(InStart), VIS(InEnd), VIEW(InEnd)}},
        {&P::InReverse, AboveHalf, {FLAG(ReversePlayback)}},
        {&P::InEditRed, Cut, {EDIT(InRedSpline)}},
        {&P::InEditGreen, Cut, {EDIT(InGreenSpline)}},
        {&P::InEditBlue, Cut, {EDIT(InBlueSpline)}},
        // The attractors and bounce lines switch off only at exactly 0; the first
        // of each leaves the second's controls alone.
        {&P::InAttractor1Enable, NonZero,
         {FLAG(AttractorEnabled[0]), VIS(InAttractor1), VIEW(InAttractor1), VIS(InAttractor1Strength)},
         {DIS(InAttractor1), DIS(InAttractor1Strength)},
         {VIEW(InAttractor1Strength), VIS(InAttractor2), FLAG(AttractorEnabled[1])}},
        {&P::InAttractor2Enable, NonZero,
         {FLAG(AttractorEnabled[1]), VIS(InAttractor2), VIEW(InAttractor2), VIS(InAttractor2Strength)},
         {DIS(InAttractor2), DIS(InAttractor2Strength)}},
        {&P::InBounce1Enable, NonZero,
         {FLAG(BounceLineEnabled[0]), VIS(InBounce1Start), VIEW(InBounce1Start), VIS(InBounce1End),
          VIEW(InBounce1End), VIS(InBounce1Elasticity), VIS(InBounce1Roughness)},
         {DIS(InBounce1Start), DIS(InBounce1End), DIS(InBounce1Elasticity), DIS(InBounce1Roughness)},
         {VIEW(InBounce1Elasticity), VIEW(InBounce1Roughness), VIS(InBounce2Start), FLAG(BounceLineEnabled[1])}},
        {&P::InBounce2Enable, NonZero,
         {FLAG(BounceLineEnabled[1]), VIS(InBounce2Start), VIEW(InBounce2Start), VIS(InBounce2End),
          VIEW(InBounce2End), VIS(InBounce2Elasticity), VIS(InBounce2Roughness)},
         {DIS(InBounce2Start), DIS(InBounce2End), DIS(InBounce2Elasticity), DIS(InBounce2Roughness)}},
    };
    const double values[] = {1, 0.3, 0.6, 0.5, 1.7, 0};
    for (const Switch& s : switches) {
        Input* box = H.Op->*s.Box;
        for (size_t k = 0; k < std::size(values); ++k) {
            SCOPED_TRACE(box->Label + " = " + std::to_string(values[k]));
            const int32_t on = s.Pattern[k] == '1';
            EXPECT_EQ(Change(box, values[k]), 1);
            for (const Probe& p : s.On) EXPECT_EQ(p.Get(*H.Op), on) << p.Name;
            for (const Probe& p : s.Off) EXPECT_EQ(p.Get(*H.Op), 1 - on) << p.Name;
            for (const Probe& p : s.Unset) EXPECT_LE(p.Get(*H.Op), 0) << p.Name;
        }
    }
}

// One change in a sequence: input, value, how often the host's handling runs,
// and the readings after it.
struct Step {
    Input* P::*In;
    double Value;
    int64_t Base;
    std::vector<std::pair<Probe, int32_t>> Want;
};

TEST_F(ChangeHandling, ButtonsActWhenPressedAndResetAndFastForwardSkipTheHostHandling) {
    Probe fileNameLength{"InSystemFile length", [](P& o) {
                             Parameter* p = o.InSystemFile->GetValue(0);
                             const int32_t n = int32_t(static_cast<Text*>(p)->Value.size());
                             p->Recycle();
                             return n;
                         }};
    Text* name = new Text("somewhere.lpd");
    H.Op->InSystemFile->SetValue(name, 0, 1);
    name->Recycle();
    const std::vector<Step> steps = {
        {&P::InResetPosition, 0.4, 0, {{FLAG(ResetRequested), 0}, {FLAG(CloseFilesOnReset), 0}}},
        {&P::InResetPosition, 1, 0, {{FLAG(ResetRequested), 1}, {FLAG(CloseFilesOnReset), 1}}},
        {&P::InFastForward, 0.5, 0, {{FLAG(FastForwardRequested), 0}}},
        {&P::InFastForward, 1, 0, {{FLAG(FastForwardRequested), 1}}},
        {&P::InFreeze, 1, 1, {}},
        {&P::InBirthrate, 12, 1, {}},
        {&P::InUnloadSystem, 0.4, 1, {{fileNameLength, 13}}},
        {&P::InUnloadSystem, 1, 1,
         {{fileNameLength, 0}, {DIS(InUnloadSystem), 1}, {DIS(InLoadSystem), 0}}},
        // The file buttons act above one half.
        {&P::InSaveFile, 0.5, 1, {{COUNT(Dialogs), 0}}},
        {&P::InLoadSystem, 0.5, 1, {{COUNT(Dialogs), 0}, {COUNT(Messages), 0}}},
        {&P::InRecordNow, 0.5, 1, {{COUNT(Messages), 0}}},
        {&P::InSaveFile, 0.6, 1, {{COUNT(Dialogs), 1}}},                   // cancelled
        {&P::InRecordNow, 1, 1, {{COUNT(Messages), 1}}},                   // no file name yet
        {&P::InLoadSystem, 1, 1, {{COUNT(Dialogs), 2}, {COUNT(Messages), 2}}},  // cancelled
        // The capture buttons cut the value to a whole number first.
        {&P::InPreloadShapes, 1, 1,
         {{CAPTURING, 1}, {DIS(InPreloadShapes), 1}, {DIS(InDeletePreloaded), 0}}},
        {&P::InDeletePreloaded, 0.7, 1, {{CAPTURING, 1}, {DIS(InDeletePreloaded), 0}}},
        {&P::InDeletePreloaded, 1, 1,
         {{CAPTURING, 0}, {PRELOADED, 0}, {DIS(InDeletePreloaded), 1}, {DIS(InPreloadShapes), 0}}},
        {&P::InPreloadShapes, 0.7, 1, {{CAPTURING, 0}, {DIS(InPreloadShapes), 0}}},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": " + (H.Op->*s.In)->Label + " = " + std::to_string(s.Value));
        EXPECT_EQ(Change(H.Op->*s.In, s.Value), s.Base);
        for (const auto& [probe, want] : s.Want) EXPECT_EQ(probe.Get(*H.Op), want) << probe.Name;
    }
}

TEST_F(ChangeHandling, ANullValueRunsOnlyTheHostHandlingAndANonNumberSwitchesOffButPressesATextButton) {
    P& op = *H.Op;
    H.SetNumber(op.InBanking, 1);
    for (Input* in : {op.InResetPosition, op.InFastForward, op.InBanking, op.InAttractor1Enable, op.InReverse,
                      op.InSaveFile, op.InPreloadShapes}) {
        const int64_t before = op.BaseNotifyCount();
        op.NotifyChanged(in, nullptr, 0);
        EXPECT_EQ(op.BaseNotifyCount() - before, 1) << in->Label;
    }
    EXPECT_EQ(op.ResetRequested.load() + op.FastForwardRequested.load() + int32_t(op.Shapes.Capturing()), 0);
    EXPECT_EQ(std::tuple(op.BankingEnabled.load(), op.AttractorEnabled[0].load()), std::tuple(1, 0));
    EXPECT_TRUE(platform::Default().Dialogs().empty());

    H.SetNumber(op.InAttractor1Enable, 1);
    H.Set(op.InBanking, new Point(1, 1));
    EXPECT_EQ(op.BankingEnabled.load(), 0);
    Text* text = new Text("1");
    op.NotifyChanged(op.InAttractor1Enable, text, 0);
    EXPECT_EQ(op.AttractorEnabled[0].load(), 0);
    op.NotifyChanged(op.InSaveFile, text, 0);
    EXPECT_EQ(platform::Default().Dialogs().size(), 1u);
    text->Recycle();
}

}  // namespace
