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
#define ATTR(in, tag) \
    Probe{#in " " #tag, [](P& o) { return o.ControlInput(std::string_view(#in).substr(2))->GetAttrLong(Tags::tag, -1); }}
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
    const char* Box;  // flow key
    const char* Pattern;
    std::vector<Probe> On, Off = {}, Unset = {};
};

TEST_F(ChangeHandling, EverySwitchSetsItsFlagAndItsControlsForEachValue) {
    const std::vector<Switch> switches = {
        {"Banking", Cut, {FLAG(BankingEnabled)}, {VIS(InRotationSpeed), VIS(InRotationVariance)}},
        {"StrictMode", Cut, {FLAG(StrictModeEnabled), VIS(InStrictDeviation), VIS(InMaximumDeviation)}},
        {"PathBinding", Cut, {FLAG(PathBindingEnabled), VIS(InPathPolyline), VIEW(InPathPolyline)}},
        {"ColorTinting", Cut, {FLAG(TintEnabled)}},
        {"EnableBlur", Cut, {FLAG(BlurEnabled), VIS(InBlurSpline), VIS(InMaximumBlur)}},
        {"EnableScale", Cut, {FLAG(ScaleEnabled), VIS(InGeneralSize), VIS(InSizeVariance)}},
        {"EnableGrow", Cut, {FLAG(GrowEnabled), VIS(InGrowSpline), VIS(InMaximumSize)}},
        {"EnableFade", Cut, {FLAG(FadeEnabled), VIS(InMergeSpline)}},
        {"UseBirthSpline", Cut, {FLAG(UseBirthSpline), VIS(InBirthSpline), VIEW(InBirthSpline)},
         {VIS(InStart), VIEW(InStart), VIS(InEnd), VIEW(InEnd)}},
        {"Reverse", AboveHalf, {FLAG(ReversePlayback)}},
        {"EditRed", Cut, {EDIT(InRedSpline)}},
        {"EditGreen", Cut, {EDIT(InGreenSpline)}},
        {"EditBlue", Cut, {EDIT(InBlueSpline)}},
        // The attractors and bounce lines switch off only at exactly 0; the first
        // of each leaves the second's controls alone.
        {"Attractor1Enable", NonZero,
         {FLAG(AttractorEnabled[0]), VIS(InAttractor1), VIEW(InAttractor1), VIS(InAttractor1Strength)},
         {DIS(InAttractor1), DIS(InAttractor1Strength)},
         {VIEW(InAttractor1Strength), VIS(InAttractor2), FLAG(AttractorEnabled[1])}},
        {"Attractor2Enable", NonZero,
         {FLAG(AttractorEnabled[1]), VIS(InAttractor2), VIEW(InAttractor2), VIS(InAttractor2Strength)},
         {DIS(InAttractor2), DIS(InAttractor2Strength)}},
        {"Bounce1Enable", NonZero,
         {FLAG(BounceLineEnabled[0]), VIS(InBounce1Start), VIEW(InBounce1Start), VIS(InBounce1End),
          VIEW(InBounce1End), VIS(InBounce1Elasticity), VIS(InBounce1Roughness)},
         {DIS(InBounce1Start), DIS(InBounce1End), DIS(InBounce1Elasticity), DIS(InBounce1Roughness)},
         {VIEW(InBounce1Elasticity), VIEW(InBounce1Roughness), VIS(InBounce2Start), FLAG(BounceLineEnabled[1])}},
        {"Bounce2Enable", NonZero,
         {FLAG(BounceLineEnabled[1]), VIS(InBounce2Start), VIEW(InBounce2Start), VIS(InBounce2End),
          VIEW(InBounce2End), VIS(InBounce2Elasticity), VIS(InBounce2Roughness)},
         {DIS(InBounce2Start), DIS(InBounce2End), DIS(InBounce2Elasticity), DIS(InBounce2Roughness)}},
    };
    const double values[] = {1, 0.3, 0.6, 0.5, 1.7, 0};
    for (const Switch& s : switches) {
        Input* box = H.Op->ControlInput(s.Box);
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
    const char* In;  // flow key
    double Value;
    int64_t Base;
    std::vector<std::pair<Probe, int32_t>> Want;
};

TEST_F(ChangeHandling, ButtonsActWhenPressedAndResetAndFastForwardSkipTheHostHandling) {
    Probe fileNameLength{"InSystemFile length", [](P& o) {
                             Parameter* p = o.ControlInput("SystemFile")->GetValue(0);
                             const int32_t n = int32_t(static_cast<Text*>(p)->Value.size());
                             p->Recycle();
                             return n;
                         }};
    Text* name = new Text("somewhere.lpd");
    H.Op->ControlInput("SystemFile")->SetValue(name, 0, 1);
    name->Recycle();
    const std::vector<Step> steps = {
        {"ResetPosition", 0.4, 0, {{FLAG(ResetRequested), 0}, {FLAG(CloseFilesOnReset), 0}}},
        {"ResetPosition", 1, 0, {{FLAG(ResetRequested), 1}, {FLAG(CloseFilesOnReset), 1}}},
        {"FastForward", 0.5, 0, {{FLAG(FastForwardRequested), 0}}},
        {"FastForward", 1, 0, {{FLAG(FastForwardRequested), 1}}},
        {"Freeze", 1, 1, {}},
        {"Birthrate", 12, 1, {}},
        {"UnloadSystem", 0.4, 1, {{fileNameLength, 13}}},
        {"UnloadSystem", 1, 1,
         {{fileNameLength, 0}, {DIS(InUnloadSystem), 1}, {DIS(InLoadSystem), 0}}},
        // The file buttons act above one half.
        {"SaveFile", 0.5, 1, {{COUNT(Dialogs), 0}}},
        {"LoadSystem", 0.5, 1, {{COUNT(Dialogs), 0}, {COUNT(Messages), 0}}},
        {"RecordNow", 0.5, 1, {{COUNT(Messages), 0}}},
        {"SaveFile", 0.6, 1, {{COUNT(Dialogs), 1}}},                   // cancelled
        {"RecordNow", 1, 1, {{COUNT(Messages), 1}}},                   // no file name yet
        {"LoadSystem", 1, 1, {{COUNT(Dialogs), 2}, {COUNT(Messages), 2}}},  // cancelled
        // The capture buttons cut the value to a whole number first.
        {"PreloadShapes", 1, 1,
         {{CAPTURING, 1}, {DIS(InPreloadShapes), 1}, {DIS(InDeletePreloaded), 0}}},
        {"DeletePreloaded", 0.7, 1, {{CAPTURING, 1}, {DIS(InDeletePreloaded), 0}}},
        {"DeletePreloaded", 1, 1,
         {{CAPTURING, 0}, {PRELOADED, 0}, {DIS(InDeletePreloaded), 1}, {DIS(InPreloadShapes), 0}}},
        {"PreloadShapes", 0.7, 1, {{CAPTURING, 0}, {DIS(InPreloadShapes), 0}}},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": " + H.Op->ControlInput(s.In)->Label + " = " + std::to_string(s.Value));
        EXPECT_EQ(Change(H.Op->ControlInput(s.In), s.Value), s.Base);
        for (const auto& [probe, want] : s.Want) EXPECT_EQ(probe.Get(*H.Op), want) << probe.Name;
    }
}

TEST_F(ChangeHandling, ANullValueRunsOnlyTheHostHandlingAndANonNumberSwitchesOffButPressesATextButton) {
    P& op = *H.Op;
    H.SetNumber(op.ControlInput("Banking"), 1);
    for (Input* in : {op.ControlInput("ResetPosition"), op.ControlInput("FastForward"), op.ControlInput("Banking"), op.ControlInput("Attractor1Enable"), op.ControlInput("Reverse"),
                      op.ControlInput("SaveFile"), op.ControlInput("PreloadShapes")}) {
        const int64_t before = op.BaseNotifyCount();
        op.NotifyChanged(in, nullptr, 0);
        EXPECT_EQ(op.BaseNotifyCount() - before, 1) << in->Label;
    }
    EXPECT_EQ(op.ResetRequested.load() + op.FastForwardRequested.load() + int32_t(op.Shapes.Capturing()), 0);
    EXPECT_EQ(std::tuple(op.BankingEnabled.load(), op.AttractorEnabled[0].load()), std::tuple(1, 0));
    EXPECT_TRUE(platform::Default().Dialogs().empty());

    H.SetNumber(op.ControlInput("Attractor1Enable"), 1);
    H.Set(op.ControlInput("Banking"), new Point(1, 1));
    EXPECT_EQ(op.BankingEnabled.load(), 0);
    Text* text = new Text("1");
    op.NotifyChanged(op.ControlInput("Attractor1Enable"), text, 0);
    EXPECT_EQ(op.AttractorEnabled[0].load(), 0);
    op.NotifyChanged(op.ControlInput("SaveFile"), text, 0);
    EXPECT_EQ(platform::Default().Dialogs().size(), 1u);
    text->Recycle();
}

}  // namespace
