// The tool's control set, checked row by row against a table of its own: pages,
// labels, IDs, data types and every creation tag in order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/fourcc.h"
#include "host/registry.h"
#include "operator/input_names.h"
#include "operator/particle_operator.h"

namespace {

// One expected tag. Double-valued tags compare their double, the others their
// 32-bit value; Text compares the characters a pointer tag points to, and
// PairFirst stands for the handle of the pair's first point.
struct ExpTag {
    enum Kind { Long, Dbl, Text, PairFirst } kind;
    uint32_t tag;
    int64_t l = 0;
    double d = 0;
    const char* text = nullptr;
};
ExpTag L(uint32_t tag, int64_t v) { return {ExpTag::Long, tag, v}; }
ExpTag D(uint32_t tag, double v) { return {ExpTag::Dbl, tag, 0, v}; }
ExpTag S(uint32_t tag, const char* s) { return {ExpTag::Text, tag, 0, 0, s}; }
ExpTag Pair() { return {ExpTag::PairFirst, 0x10058000}; }

ExpTag Page(const char (&c)[5]) { return L(0x10030006, FourCC(c)); }
ExpTag View(const char (&c)[5]) { return L(0x10030007, FourCC(c)); }
ExpTag Min(double v) { return D(0x20030000, v); }
ExpTag Max(double v) { return D(0x20030001, v); }
ExpTag ScaleLo(double v) { return D(0x20030002, v); }
ExpTag ScaleHi(double v) { return D(0x20030003, v); }
ExpTag Def(double v) { return D(0x20030004, v); }
ExpTag DefX(double v) { return D(0x20030005, v); }
ExpTag DefY(double v) { return D(0x20030006, v); }

struct Row {
    const char* page;
    const char* label;
    Input* ParticleOperator::*member;  // null for label-only inputs
    const char* memberName;
    uint32_t id;
    const char* type;
    std::vector<ExpTag> tags;
};
#define M(name) &ParticleOperator::name, #name
#define NONE nullptr, nullptr

const std::vector<ExpTag> Spacer = {Page("PLIC"), L(0x10030001, 0), L(0x10030017, 1)};
const std::vector<ExpTag> Button = {Page("BtnC"), L(0x1003000D, 1)};
const std::vector<ExpTag> Check = {Page("ChBC"), Def(0), L(0x1003000D, 1), L(0x10030015, 1)};
std::vector<ExpTag> Curve(int64_t color, int64_t group, int64_t pos, int64_t edit) {
    return {Page("SplC"), Min(0),          Max(255),         L(0x10030012, 0x7A42744C), L(0x10050001, color),
            L(0x10030009, group), L(0x1003000A, pos), L(0x10050002, edit)};
}
std::vector<ExpTag> Range(double def, int64_t group, int64_t pos) {
    return {Page("RngC"), Min(0), Max(10000), Def(def), L(0x10030009, group), L(0x1003000A, pos), L(0x10030010, 1)};
}

const std::vector<Row>& Expected() {
    static const std::vector<Row> rows = {
        {"Setup", "Reset Position", M(InResetPosition), 0x74736552, "Numb", Button},
        {"Setup", "FastForward", M(InFastForward), 0x72657250, "Numb", Button},
        {"Setup", "Roll frames", M(InRollFrames), 0x6D417250, "Numb",
         {Page("SliC"), Min(1), Max(1000), ScaleHi(100), Def(20), L(0x10030010, 1)}},
        {"Setup", "", NONE, 0x33326D44, "Numb", Spacer},
        {"Setup", "Birthrate", M(InBirthrate), 0x72626D4E, "Numb",
         {Page("SliC"), Min(0), Max(1000), ScaleLo(0), ScaleHi(10), Def(3)}},
        {"Setup", "Lifetime", M(InLifetime), 0x74737553, "Numb", {Page("SliC"), Min(0), ScaleHi(100), Def(30)}},
        {"Setup", "SlowMotion", M(InSlowMotion), 0x6F4D6C53, "Numb",
         {Page("SliC"), Min(0), Max(10), ScaleHi(2), Def(1)}},
        {"Setup", "", NONE, 0x36376D44, "Numb", Spacer},
        {"Setup", "Apply Birthimage on all", M(InApplyBirthImage), 0x6B437442, "Numb", Check},
        {"Setup", "", NONE, 0x34326D44, "Numb", Spacer},
        {"Setup", "Enable Scale", M(InEnableScale), 0x6B436353, "Numb", Check},
        {"Setup", "General Size", M(InGeneralSize), 0x6C616353, "Numb",
         {Page("SliC"), Min(0.1), Max(5), ScaleHi(2), Def(1)}},
        {"Setup", "SizeVariance", M(InSizeVariance), 0x72566353, "Numb",
         {Page("SliC"), Min(0), Max(5), ScaleHi(1), Def(0)}},
        {"Setup", "", NONE, 0x35326D44, "Numb", Spacer},
        {"Setup", "Start", M(InStart), 0x746E65C3, "Poin",
         {Page("OffC"), View("XHrC"), DefX(0.2), DefY(0.2), L(0x10058000, 2)}},
        {"Setup", "End", M(InEnd), 0x50646E32, "Poin", {Page("OffC"), View("PntC"), DefX(0.2), DefY(0.3), Pair()}},
        {"Setup", "Use Birthspline", M(InUseBirthSpline), 0x43535442, "Numb", Check},
        {"Setup", "BirthSpline", M(InBirthSpline), 0x50535442, "PlLn",
         {Page("PLIC"), View("PlLC"), L(0x10058004, 0)}},

        {"Forces", "Orientation", M(InOrientation), 0x6E417053, "Numb",
         {Page("ScrC"), View("AngC"), Min(-20059.99), Max(20059.99), ScaleLo(0), ScaleHi(360), Def(0)}},
        {"Forces", "Spread", M(InSpread), 0x7256724F, "Numb", {Page("SliC"), Min(0), Max(1), Def(0.1)}},
        {"Forces", "", NONE, 0x33796D44, "Numb", Spacer},
        {"Forces", "Speed", M(InSpeed), 0x64657053, "Numb", {Page("SliC"), Min(0), Max(100), ScaleHi(0.05), Def(0.01)}},
        {"Forces", "SpeedVariance", M(InSpeedVariance), 0x72567053, "Numb", {Page("SliC"), Min(0), Max(1), Def(0)}},
        {"Forces", "", NONE, 0x34796D44, "Numb", Spacer},
        {"Forces", "Gravity", M(InGravity), 0x74767247, "Numb", {Page("SliC"), Min(0), Max(100), ScaleHi(0.5), Def(0.1)}},
        {"Forces", "GravityAngle", M(InGravityAngle), 0x6E417247, "Numb",
         {Page("ScrC"), View("AngC"), Min(-1000000.99), Max(1000000.99), ScaleLo(0), ScaleHi(360), Def(270)}},

        {"Behavior", "Enable Fade In/Out", M(InEnableFade), 0x6B436752, "Numb", Check},
        {"Behavior", "Merge Spline", M(InMergeSpline), 0x674D7053, "LUT!", Curve(0xFFFFFF, 6, 0, 1)},
        {"Behavior", "", NONE, 0x31796D44, "Numb", Spacer},
        {"Behavior", "Enable Grow In/Out", M(InEnableGrow), 0x6B437A53, "Numb", Check},
        {"Behavior", "Grow Spline", M(InGrowSpline), 0x72477053, "LUT!", Curve(0xFFFFFF, 7, 0, 1)},
        {"Behavior", "Maximum size", M(InMaximumSize), 0x7A53784D, "Numb",
         {Page("SliC"), Min(0.1), Max(100), ScaleHi(4), Def(2)}},
        {"Behavior", "", NONE, 0x32796D44, "Numb", Spacer},
        {"Behavior", "Enable Blur In/Out", M(InEnableBlur), 0x6B437242, "Numb", Check},
        {"Behavior", "Blur Spline", M(InBlurSpline), 0x72427053, "LUT!", Curve(0xFFFFFF, 8, 0, 1)},
        {"Behavior", "Maximum Blur", M(InMaximumBlur), 0x7242784D, "Numb",
         {Page("SliC"), Min(0), Max(10000), ScaleHi(100), Def(50)}},

        {"Image", " Merge", NONE, 0x39336D44, "Numb", Spacer},
        {"Image", "Subtractive                                   Additive", M(InMerge), 0x69646441, "Numb",
         {Page("SliC"), Min(0), Max(1), Def(1)}},
        {"Image", "Gaussian Blur Quality", M(InBlurQuality), 0x51426147, "Numb",
         {Page("SliC"), Min(1), Max(7), Def(3), L(0x10030010, 1)}},
        {"Image", "", NONE, 0x38796D44, "Numb", Spacer},
        {"Image", "Start Frame", M(InImageStartFrame), 0x74537250, "Numb", Range(0, 15, 0)},
        {"Image", "Last Frame", M(InImageLastFrame), 0x6E457250, "Numb", Range(100, 15, 1)},
        {"Image", "Preload paricle shapes", M(InPreloadShapes), 0x536C7250, "Text",
         {Page("BtnC"), L(0x1003000D, 1), L(0x10030008, 0)}},
        {"Image", "Delete preloaded particle shapes", M(InDeletePreloaded), 0x446C7250, "Text",
         {Page("BtnC"), L(0x1003000D, 1), L(0x10030008, 1)}},
        {"Image", "Freeze and Precalculate", M(InFreeze), 0x7A657246, "Numb",
         {Page("BtnC"), L(0x1003000D, 1), L(0x1004000B, 0)}},

        {"Rotation", "RotationSpeed (degrees per frame)", M(InRotationSpeed), 0x746F5243, "Numb",
         {Page("SliC"), Min(-720), Max(720), ScaleLo(-30), ScaleHi(30), Def(0)}},
        {"Rotation", "RotationVariance", M(InRotationVariance), 0x72565243, "Numb",
         {Page("SliC"), Min(0), Max(1), Def(0)}},
        {"Rotation", "StartingAngle", M(InStartingAngle), 0x68747242, "Numb",
         {Page("SliC"), Min(-359), Max(359), Def(0)}},
        {"Rotation", "Enable Banking", M(InBanking), 0x6E6B6E42, "Numb", Check},

        {"Modifiers", "Enable Attractor 1", M(InAttractor1Enable), 0x6B433141, "Numb", Check},
        {"Modifiers", "Attractor/Deflector 1", M(InAttractor1), 0x6F506F46, "Poin",
         {Page("OffC"), View("XHrC"), DefX(0.5), DefY(0.5)}},
        {"Modifiers", "AttractorStrength", M(InAttractor1Strength), 0x74537441, "Numb",
         {Page("SliC"), Min(-5), Max(5), Def(0)}},
        {"Modifiers", "", NONE, 0x35796D44, "Numb", Spacer},
        {"Modifiers", "Enable Attractor 2", M(InAttractor2Enable), 0x6B433241, "Numb", Check},
        {"Modifiers", "Attractor/Deflector 2", M(InAttractor2), 0x32506F46, "Poin",
         {Page("OffC"), View("XHrC"), DefX(0.5), DefY(0.5)}},
        {"Modifiers", "AttractorStrength", M(InAttractor2Strength), 0x32537441, "Numb",
         {Page("SliC"), Min(-5), Max(5), Def(0)}},
        {"Modifiers", "", NONE, 0x36796D44, "Numb", Spacer},
        {"Modifiers", "Enable BounceLine 1", M(InBounce1Enable), 0x6B433142, "Numb", Check},
        {"Modifiers", "Elasticity", M(InBounce1Elasticity), 0x73616C45, "Numb", {Page("SliC"), Min(0), Max(2), Def(1)}},
        {"Modifiers", "Roughness", M(InBounce1Roughness), 0x31756F52, "Numb", {Page("SliC"), Min(0), Max(1), Def(0)}},
        {"Modifiers", "BounceLine1 Start", M(InBounce1Start), 0x31506342, "Poin",
         {Page("OffC"), View("XHrC"), DefX(0.1), DefY(0.4), L(0x10058000, 2)}},
        {"Modifiers", "BounceLine1 End", M(InBounce1End), 0x32506342, "Poin",
         {Page("OffC"), View("PntC"), DefX(0.5), DefY(0.7), Pair()}},
        {"Modifiers", "", NONE, 0x37796D44, "Numb", Spacer},
        {"Modifiers", "Enable BounceLine 2", M(InBounce2Enable), 0x6B433242, "Numb", Check},
        {"Modifiers", "Elasticity", M(InBounce2Elasticity), 0x32616C45, "Numb", {Page("SliC"), Min(0), Max(2), Def(1)}},
        {"Modifiers", "Roughness", M(InBounce2Roughness), 0x32756F52, "Numb", {Page("SliC"), Min(0), Max(1), Def(0)}},
        {"Modifiers", "BounceLine2 Start", M(InBounce2Start), 0x31325042, "Poin",
         {Page("OffC"), View("XHrC"), DefX(0.2), DefY(0.5), L(0x10058000, 2)}},
        {"Modifiers", "BounceLine2 End", M(InBounce2End), 0x32325042, "Poin",
         {Page("OffC"), View("PntC"), DefX(0.7), DefY(0.6), Pair()}},
        {"Modifiers", "Number of beer per particle", M(InTumble), 0x626D7554, "Numb",
         {Page("SliC"), Min(0), Max(1), ScaleHi(10), Def(0)}},

        {"Load/Save", " Warning: Birthimage will be applied on all !", NONE, 0x30316D44, "Numb", Spacer},
        {"Load/Save", "Save MotionData under...", M(InSaveFile), 0x6C467653, "Text", Button},
        {"Load/Save", "Start Frame", M(InRecordStartFrame), 0x74537653, "Numb", Range(0, 13, 0)},
        {"Load/Save", "Last Frame", M(InRecordLastFrame), 0x6E457653, "Numb", Range(100, 13, 1)},
        {"Load/Save", "Record now", M(InRecordNow), 0x79537653, "Text", Button},
        {"Load/Save", "Start Frame", M(InLoadStartFrame), 0x7453644C, "Numb", Range(0, 14, 0)},
        {"Load/Save", "Last Frame", M(InLoadLastFrame), 0x6E45644C, "Numb", Range(100, 14, 1)},
        {"Load/Save", "Load System", M(InLoadSystem), 0x7953644C, "Text", Button},
        {"Load/Save", "Reverse", M(InReverse), 0x72766552, "Numb", Check},
        {"Load/Save", " System is Loaded !", M(InLoadedNotice), 0x36366D44, "Numb",
         {Page("PLIC"), L(0x10030001, 0), L(0x10030017, 1), L(0x1004000B, 0)}},
        {"Load/Save", "Unload System", M(InUnloadSystem), 0x79536C55, "Text",
         {Page("BtnC"), L(0x1003000D, 1), L(0x10030008, 1)}},
        {"Load/Save", "", M(InSystemFile), 0x7A363335, "Text",
         {Page("TEdC"), S(0x10030013, ""), L(0x10050000, 1)}},

        {"Path", "Enable Pathbinding", M(InPathBinding), 0x6B435042, "Numb", Check},
        {"Path", "Polyline Path", M(InPathPolyline), 0x6E4C6CD0, "PlLn",
         {Page("PLIC"), View("PlLC"), L(0x10058004, 0), S(0x10040001, "Polyline Path")}},
        {"Path", "Speed Variance", M(InPathSpeedVariance), 0x74536742, "Numb", {Page("SliC"), Min(0), Max(1), Def(0)}},
        {"Path", "Strict Mode", M(InStrictMode), 0x644D7453, "Numb", Check},
        {"Path", "Strict Mode Deviation", M(InStrictDeviation), 0x70537453, "LUT!", Curve(0xFFFFFF, 4, 0, 1)},
        {"Path", "Maximum Deviation", M(InMaximumDeviation), 0x7644784D, "Numb",
         {Page("SliC"), Min(0), Max(10), ScaleHi(2), Def(1)}},

        {"Color", "Color Tinting", M(InColorTinting), 0x54726C43, "Numb", Check},
        {"Color", "Red Spline", M(InRedSpline), 0x70533143, "LUT!", Curve(0x0000FF, 2, 0, 0)},
        {"Color", "Green Spline", M(InGreenSpline), 0x70533243, "LUT!", Curve(0x00FF00, 2, 1, 0)},
        {"Color", "Blue Spline", M(InBlueSpline), 0x70533343, "LUT!", Curve(0xFF0000, 2, 2, 0)},
        {"Color", "Edit Red", M(InEditRed), 0x684364D2, "Numb",
         {Page("ChBC"), Def(0), L(0x1003000D, 1), L(0x10030015, 1), L(0x10040006, 3)}},
        {"Color", "Edit Green", M(InEditGreen), 0x68436EC7, "Numb",
         {Page("ChBC"), Def(0), L(0x1003000D, 1), L(0x10030015, 1), L(0x10040006, 3)}},
        {"Color", "Edit Blue", M(InEditBlue), 0x68436CC2, "Numb",
         {Page("ChBC"), Def(0), L(0x1003000D, 1), L(0x10030015, 1), L(0x10040006, 3)}},
        {"Color", "Color Morph", M(InColorMorph), 0x70536F4D, "LUT!", Curve(0xFFFFFF, 3, 0, 1)},

        {nullptr, "Particle", M(InParticleImage), 0x02706EC9, "Imag", {}},
        {nullptr, "Image", M(InImage), 0x01706EC9, "Imag", {}},
    };
    return rows;
}

class ControlTable : public ::testing::Test {
protected:
    ControlTable() : Reg(&ClassRegistry, "ControlTableTest", {}) {
        TagList tags;
        Op = static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, nullptr, &tags));
    }
    ~ControlTable() override { Op->Recycle(); }
    Registry Reg;
    ParticleOperator* Op = nullptr;
};

TEST_F(ControlTable, PagesAreTheNineInOrder) {
    std::vector<std::string> names;
    for (const ControlPage& p : Op->Pages()) names.push_back(p.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Setup", "Forces", "Behavior", "Image", "Rotation", "Modifiers",
                                               "Load/Save", "Path", "Color"}));
}

TEST_F(ControlTable, EveryInputMatchesItsRowInOrder) {
    const auto& rows = Expected();
    const auto& inputs = Op->Inputs();
    ASSERT_EQ(inputs.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const Input* in = inputs[i];
        SCOPED_TRACE("row " + std::to_string(i) + " \"" + row.label + "\"");
        EXPECT_EQ(in->Label, row.label);
        EXPECT_EQ(in->ID, row.id);
        EXPECT_EQ(in->DataType, FourCC(*reinterpret_cast<const char(*)[5]>(row.type)));
        if (row.page) {
            ASSERT_GE(in->Page, 0);
            EXPECT_EQ(Op->Pages()[size_t(in->Page)].Name, row.page);
        } else {
            EXPECT_EQ(in->Page, -1);
        }
        if (row.member) {
            EXPECT_EQ(Op->*row.member, in) << row.memberName;
        }
        const auto& got = in->CreationTags.Items;
        ASSERT_EQ(got.size(), row.tags.size());
        for (size_t k = 0; k < got.size(); ++k) {
            const ExpTag& want = row.tags[k];
            SCOPED_TRACE("tag " + std::to_string(k));
            EXPECT_EQ(got[k].Tag, want.tag) << std::hex << got[k].Tag;
            switch (want.kind) {
                case ExpTag::Long: EXPECT_EQ(int64_t(uint32_t(got[k].Long)), int64_t(uint32_t(want.l))); break;
                case ExpTag::Dbl: EXPECT_EQ(got[k].Double, want.d); break;
                case ExpTag::Text: EXPECT_STREQ(reinterpret_cast<const char*>(got[k].Long), want.text); break;
                case ExpTag::PairFirst: EXPECT_EQ(got[k].Long, reinterpret_cast<intptr_t>(inputs[i - 1])); break;
            }
        }
    }
}

TEST_F(ControlTable, LabelOnlyInputsKeepNoHandleExceptTheLoadedNotice) {
    // Every handle member is set and refers to an input of its own row; the
    // spacers and label-only rows are reached by no handle but the notice.
    std::vector<const Input*> handles;
    for (const Row& row : Expected())
        if (row.member) handles.push_back(Op->*row.member);
    for (const Input* in : Op->Inputs()) {
        const bool labelOnly = in->CreationTags.GetLong(0x10030006, 0) == int32_t(FourCC("PLIC")) &&
                               in->DataType == DT_Number;
        const bool held = std::find(handles.begin(), handles.end(), in) != handles.end();
        if (labelOnly) EXPECT_EQ(held, in == Op->InLoadedNotice) << in->Label;
        else EXPECT_TRUE(held) << in->Label;
    }
}

TEST_F(ControlTable, MergeLabelIsFiftyFourCharacters) {
    EXPECT_EQ(Op->InMerge->Label.size(), 54u);
    EXPECT_EQ(Op->InMerge->Label, "Subtractive" + std::string(35, ' ') + "Additive");
}

TEST_F(ControlTable, PointPairsLinkTheSecondPointToTheFirst) {
    const std::pair<Input*, Input*> pairs[] = {
        {Op->InStart, Op->InEnd}, {Op->InBounce1Start, Op->InBounce1End}, {Op->InBounce2Start, Op->InBounce2End}};
    for (auto [first, second] : pairs) {
        EXPECT_EQ(first->CreationTags.GetLong(0x10058000, -1), 2) << first->Label;
        EXPECT_EQ(second->CreationTags.GetPtr(0x10058000, 0), reinterpret_cast<intptr_t>(first)) << second->Label;
    }
    // The attractors are single points, not pairs.
    EXPECT_FALSE(Op->InAttractor1->CreationTags.Has(0x10058000));
    EXPECT_FALSE(Op->InAttractor2->CreationTags.Has(0x10058000));
}

TEST_F(ControlTable, TheOutputComesLastAndHasNoTags) {
    ASSERT_EQ(Op->Outputs().size(), 1u);
    EXPECT_EQ(Op->Outputs()[0], Op->OutImage);
    EXPECT_EQ(Op->OutImage->Label, "Image");
    EXPECT_EQ(Op->OutImage->ID, 0x017475CFu);
    EXPECT_EQ(Op->OutImage->DataType, FourCC("Imag"));
}

TEST_F(ControlTable, NewToolStartsWithAnEmptyPoolAndNoShapes) {
    EXPECT_EQ(Op->BirthAccumulator, 0.0);
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(Op->OldestIndex, 0);
    EXPECT_EQ(Op->NextIndex, 0);
    EXPECT_EQ(Op->FrameEntrySize, 20);
    EXPECT_EQ(Op->ParticleEntrySize, 40);
    EXPECT_EQ(Op->PreloadedPresent.load(), 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 0);
    EXPECT_EQ(Op->MotionPath.SegmentCount, -1);
    EXPECT_EQ(Op->BirthPath.SegmentCount, -1);
    // The created state of the three buttons that start greyed or not.
    EXPECT_EQ(Op->InPreloadShapes->GetAttrLong(0x10030008, -1), 0);
    EXPECT_EQ(Op->InDeletePreloaded->GetAttrLong(0x10030008, -1), 1);
    EXPECT_EQ(Op->InUnloadSystem->GetAttrLong(0x10030008, -1), 1);
}

TEST(ToolSeed, TheFactoryTagSeedsTheToolsGenerator) {
    Registry reg(&ClassRegistry, "SeedTest", {});
    TagList seeded{{Tags::RandomSeed, int32_t(77)}};
    TagList none;
    auto* a = static_cast<ParticleOperator*>(CreateParticleOperator(&reg, nullptr, &seeded));
    auto* b = static_cast<ParticleOperator*>(CreateParticleOperator(&reg, nullptr, &none));
    auto* c = static_cast<ParticleOperator*>(CreateParticleOperator(&reg, nullptr, nullptr));
    EXPECT_EQ(a->Random.GetState(), 77u);
    EXPECT_EQ(b->Random.GetState(), 1u);
    EXPECT_EQ(c->Random.GetState(), 1u);
    a->Recycle();
    b->Recycle();
    c->Recycle();
}

TEST_F(ControlTable, InputNameTableListsEveryStoredInputAndTheOutput) {
    std::string expected;
    char line[128];
    for (const Row& row : Expected()) {
        if (!row.memberName) continue;
        std::snprintf(line, sizeof line, "%08x %s\n", unsigned(row.id), row.memberName);
        expected += line;
    }
    expected += "017475cf OutImage\n";
    EXPECT_EQ(InputNameTable(*Op), expected);
}

}  // namespace
