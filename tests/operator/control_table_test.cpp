// The tool's control set, checked row by row against a table of its own: pages,
// labels, IDs, data types, handles and every creation tag in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <charconv>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "host/registry.h"
#include "operator/input_names.h"
#include "operator/particle_operator.h"

namespace {

uint32_t Code(const std::string& s) {
    return uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16 | uint32_t(s[3]) << 24;
}
std::string Text4(intptr_t v) {
    const uint32_t u = uint32_t(v);
    return {char(u), char(u >> 8), char(u >> 16), char(u >> 24)};
}

// An input's creation tags in the table's short form: the page control's code
// first, then `key=value`. Doubles in their shortest exact form, codes as their
// four characters, texts 'quoted', and the pair tag that points to the input
// before as `pair=prev`. Unknown tags show as hex.
std::string Describe(const std::vector<Input*>& inputs, size_t i) {
    static const std::map<uint32_t, std::string> names = {
        {0x10030007, "vw"},    {0x20030000, "min"},  {0x20030001, "max"},   {0x20030002, "slo"},
        {0x20030003, "shi"},   {0x20030004, "def"},  {0x20030005, "dx"},    {0x20030006, "dy"},
        {0x10030008, "dis"},   {0x1004000B, "vis"},  {0x10030010, "int"},   {0x1003000D, "btn"},
        {0x10030015, "chk"},   {0x10030009, "grp"},  {0x1003000A, "gpos"},  {0x10030012, "kind"},
        {0x10050001, "color"}, {0x10050002, "edit"}, {0x10058000, "pair"},  {0x10058004, "poly"},
        {0x10040001, "pname"}, {0x10040006, "eds"},  {0x10030013, "dtext"}, {0x10050000, "tfield"},
        {0x10030001, "lbl1"},  {0x10030017, "lbl2"}};
    std::string out;
    char buf[64];
    for (const TagItem& t : inputs[i]->CreationTags.Items) {
        if (!out.empty()) out += ' ';
        if (t.Tag == 0x10030006) {
            out += Text4(t.Long);
            continue;
        }
        const auto name = names.find(t.Tag);
        std::snprintf(buf, sizeof buf, "0x%08X", unsigned(t.Tag));
        out += (name != names.end() ? name->second : buf) + "=";
        if (t.Tag >> 28 == 2) {
            out.append(buf, std::to_chars(buf, buf + sizeof buf, t.Double).ptr);
        } else if (t.Tag == 0x10030007 || t.Tag == 0x10030012) {
            out += Text4(t.Long);
        } else if (t.Tag == 0x10050001) {
            std::snprintf(buf, sizeof buf, "0x%06X", unsigned(t.Long));
            out += buf;
        } else if (t.Tag == 0x10030013 || t.Tag == 0x10040001) {
            out.append("'").append(reinterpret_cast<const char*>(t.Long)).append("'");
        } else if (t.Tag == 0x10058000 && i > 0 && t.Long == reinterpret_cast<intptr_t>(inputs[i - 1])) {
            out += "prev";
        } else {
            out += std::to_string(int32_t(t.Long));
        }
    }
    return out;
}

using P = ParticleOperator;
struct Row {
    const char* Page;  // null: no page
    const char* Label;
    const char* Member;  // the flow key with "In" before it; null for label-only inputs
    uint32_t ID;
    const char* Type;
    std::string Tags;
};
#define M(name) #name
#define NONE nullptr

const std::string Spacer = "PLIC lbl1=0 lbl2=1", Button = "BtnC btn=1", Check = "ChBC def=0 btn=1 chk=1",
                  Spline = "SplC min=0 max=255 kind=LtBz ", Range = "RngC min=0 max=10000 ";

const std::vector<Row> Expected = {
    {"Setup", "Reset Position", M(InResetPosition), 0x74736552, "Numb", Button},
    {"Setup", "FastForward", M(InFastForward), 0x72657250, "Numb", Button},
    {"Setup", "Roll frames", M(InRollFrames), 0x6D417250, "Numb", "SliC min=1 max=1000 shi=100 def=20 int=1"},
    {"Setup", "", NONE, 0x33326D44, "Numb", Spacer},
    {"Setup", "Birthrate", M(InBirthrate), 0x72626D4E, "Numb", "SliC min=0 max=1000 slo=0 shi=10 def=3"},
    {"Setup", "Lifetime", M(InLifetime), 0x74737553, "Numb", "SliC min=0 shi=100 def=30"},
    {"Setup", "SlowMotion", M(InSlowMotion), 0x6F4D6C53, "Numb", "SliC min=0 max=10 shi=2 def=1"},
    {"Setup", "", NONE, 0x36376D44, "Numb", Spacer},
    {"Setup", "Apply Birthimage on all", M(InApplyBirthImage), 0x6B437442, "Numb", Check},
    {"Setup", "", NONE, 0x34326D44, "Numb", Spacer},
    {"Setup", "Enable Scale", M(InEnableScale), 0x6B436353, "Numb", Check},
    {"Setup", "General Size", M(InGeneralSize), 0x6C616353, "Numb", "SliC min=0.1 max=5 shi=2 def=1"},
    {"Setup", "SizeVariance", M(InSizeVariance), 0x72566353, "Numb", "SliC min=0 max=5 shi=1 def=0"},
    {"Setup", "", NONE, 0x35326D44, "Numb", Spacer},
    {"Setup", "Start", M(InStart), 0x746E65C3, "Poin", "OffC vw=XHrC dx=0.2 dy=0.2 pair=2"},
    {"Setup", "End", M(InEnd), 0x50646E32, "Poin", "OffC vw=PntC dx=0.2 dy=0.3 pair=prev"},
    {"Setup", "Use Birthspline", M(InUseBirthSpline), 0x43535442, "Numb", Check},
    {"Setup", "BirthSpline", M(InBirthSpline), 0x50535442, "PlLn", "PLIC vw=PlLC poly=0"},
    {"Forces", "Orientation", M(InOrientation), 0x6E417053, "Numb",
     "ScrC vw=AngC min=-20059.99 max=20059.99 slo=0 shi=360 def=0"},
    {"Forces", "Spread", M(InSpread), 0x7256724F, "Numb", "SliC min=0 max=1 def=0.1"},
    {"Forces", "", NONE, 0x33796D44, "Numb", Spacer},
    {"Forces", "Speed", M(InSpeed), 0x64657053, "Numb", "SliC min=0 max=100 shi=0.05 def=0.01"},
    {"Forces", "SpeedVariance", M(InSpeedVariance), 0x72567053, "Numb", "SliC min=0 max=1 def=0"},
    {"Forces", "", NONE, 0x34796D44, "Numb", Spacer},
    {"Forces", "Gravity", M(InGravity), 0x74767247, "Numb", "SliC min=0 max=100 shi=0.5 def=0.1"},
    {"Forces", "GravityAngle", M(InGravityAngle), 0x6E417247, "Numb",
     "ScrC vw=AngC min=-1000000.99 max=1000000.99 slo=0 shi=360 def=270"},
    {"Behavior", "Enable Fade In/Out", M(InEnableFade), 0x6B436752, "Numb", Check},
    {"Behavior", "Merge Spline", M(InMergeSpline), 0x674D7053, "LUT!", Spline + "color=0xFFFFFF grp=6 gpos=0 edit=1"},
    {"Behavior", "", NONE, 0x31796D44, "Numb", Spacer},
    {"Behavior", "Enable Grow In/Out", M(InEnableGrow), 0x6B437A53, "Numb", Check},
    {"Behavior", "Grow Spline", M(InGrowSpline), 0x72477053, "LUT!", Spline + "color=0xFFFFFF grp=7 gpos=0 edit=1"},
    {"Behavior", "Maximum size", M(InMaximumSize), 0x7A53784D, "Numb", "SliC min=0.1 max=100 shi=4 def=2"},
    {"Behavior", "", NONE, 0x32796D44, "Numb", Spacer},
    {"Behavior", "Enable Blur In/Out", M(InEnableBlur), 0x6B437242, "Numb", Check},
    {"Behavior", "Blur Spline", M(InBlurSpline), 0x72427053, "LUT!", Spline + "color=0xFFFFFF grp=8 gpos=0 edit=1"},
    {"Behavior", "Maximum Blur", M(InMaximumBlur), 0x7242784D, "Numb", "SliC min=0 max=10000 shi=100 def=50"},
    {"Image", " Merge", NONE, 0x39336D44, "Numb", Spacer},
    // 54 characters: 35 spaces between the two words.
    {"Image", "Subtractive                                   Additive", M(InMerge), 0x69646441, "Numb",
     "SliC min=0 max=1 def=1"},
    {"Image", "Gaussian Blur Quality", M(InBlurQuality), 0x51426147, "Numb", "SliC min=1 max=7 def=3 int=1"},
    {"Image", "", NONE, 0x38796D44, "Numb", Spacer},
    {"Image", "Start Frame", M(InImageStartFrame), 0x74537250, "Numb", Range + "def=0 grp=15 gpos=0 int=1"},
    {"Image", "Last Frame", M(InImageLastFrame), 0x6E457250, "Numb", Range + "def=100 grp=15 gpos=1 int=1"},
    {"Image", "Preload paricle shapes", M(InPreloadShapes), 0x536C7250, "Text", "BtnC btn=1 dis=0"},
    {"Image", "Delete preloaded particle shapes", M(InDeletePreloaded), 0x446C7250, "Text", "BtnC btn=1 dis=1"},
    {"Image", "Freeze and Precalculate", M(InFreeze), 0x7A657246, "Numb", "BtnC btn=1 vis=0"},
    {"Rotation", "RotationSpeed (degrees per frame)", M(InRotationSpeed), 0x746F5243, "Numb",
     "SliC min=-720 max=720 slo=-30 shi=30 def=0"},
    {"Rotation", "RotationVariance", M(InRotationVariance), 0x72565243, "Numb", "SliC min=0 max=1 def=0"},
    {"Rotation", "StartingAngle", M(InStartingAngle), 0x68747242, "Numb", "SliC min=-359 max=359 def=0"},
    {"Rotation", "Enable Banking", M(InBanking), 0x6E6B6E42, "Numb", Check},
    {"Modifiers", "Enable Attractor 1", M(InAttractor1Enable), 0x6B433141, "Numb", Check},
    {"Modifiers", "Attractor/Deflector 1", M(InAttractor1), 0x6F506F46, "Poin", "OffC vw=XHrC dx=0.5 dy=0.5"},
    {"Modifiers", "AttractorStrength", M(InAttractor1Strength), 0x74537441, "Numb", "SliC min=-5 max=5 def=0"},
    {"Modifiers", "", NONE, 0x35796D44, "Numb", Spacer},
    {"Modifiers", "Enable Attractor 2", M(InAttractor2Enable), 0x6B433241, "Numb", Check},
    {"Modifiers", "Attractor/Deflector 2", M(InAttractor2), 0x32506F46, "Poin", "OffC vw=XHrC dx=0.5 dy=0.5"},
    {"Modifiers", "AttractorStrength", M(InAttractor2Strength), 0x32537441, "Numb", "SliC min=-5 max=5 def=0"},
    {"Modifiers", "", NONE, 0x36796D44, "Numb", Spacer},
    {"Modifiers", "Enable BounceLine 1", M(InBounce1Enable), 0x6B433142, "Numb", Check},
    {"Modifiers", "Elasticity", M(InBounce1Elasticity), 0x73616C45, "Numb", "SliC min=0 max=2 def=1"},
    {"Modifiers", "Roughness", M(InBounce1Roughness), 0x31756F52, "Numb", "SliC min=0 max=1 def=0"},
    {"Modifiers", "BounceLine1 Start", M(InBounce1Start), 0x31506342, "Poin", "OffC vw=XHrC dx=0.1 dy=0.4 pair=2"},
    {"Modifiers", "BounceLine1 End", M(InBounce1End), 0x32506342, "Poin", "OffC vw=PntC dx=0.5 dy=0.7 pair=prev"},
    {"Modifiers", "", NONE, 0x37796D44, "Numb", Spacer},
    {"Modifiers", "Enable BounceLine 2", M(InBounce2Enable), 0x6B433242, "Numb", Check},
    {"Modifiers", "Elasticity", M(InBounce2Elasticity), 0x32616C45, "Numb", "SliC min=0 max=2 def=1"},
    {"Modifiers", "Roughness", M(InBounce2Roughness), 0x32756F52, "Numb", "SliC min=0 max=1 def=0"},
    {"Modifiers", "BounceLine2 Start", M(InBounce2Start), 0x31325042, "Poin", "OffC vw=XHrC dx=0.2 dy=0.5 pair=2"},
    {"Modifiers", "BounceLine2 End", M(InBounce2End), 0x32325042, "Poin", "OffC vw=PntC dx=0.7 dy=0.6 pair=prev"},
    {"Modifiers", "Number of beer per particle", M(InTumble), 0x626D7554, "Numb", "SliC min=0 max=1 shi=10 def=0"},
    {"Load/Save", " Warning: Birthimage will be applied on all !", NONE, 0x30316D44, "Numb", Spacer},
    {"Load/Save", "Save MotionData under...", M(InSaveFile), 0x6C467653, "Text", Button},
    {"Load/Save", "Start Frame", M(InRecordStartFrame), 0x74537653, "Numb", Range + "def=0 grp=13 gpos=0 int=1"},
    {"Load/Save", "Last Frame", M(InRecordLastFrame), 0x6E457653, "Numb", Range + "def=100 grp=13 gpos=1 int=1"},
    {"Load/Save", "Record now", M(InRecordNow), 0x79537653, "Text", Button},
    {"Load/Save", "Start Frame", M(InLoadStartFrame), 0x7453644C, "Numb", Range + "def=0 grp=14 gpos=0 int=1"},
    {"Load/Save", "Last Frame", M(InLoadLastFrame), 0x6E45644C, "Numb", Range + "def=100 grp=14 gpos=1 int=1"},
    {"Load/Save", "Load System", M(InLoadSystem), 0x7953644C, "Text", Button},
    {"Load/Save", "Reverse", M(InReverse), 0x72766552, "Numb", Check},
    {"Load/Save", " System is Loaded !", M(InLoadedNotice), 0x36366D44, "Numb", Spacer + " vis=0"},
    {"Load/Save", "Unload System", M(InUnloadSystem), 0x79536C55, "Text", "BtnC btn=1 dis=1"},
    {"Load/Save", "", M(InSystemFile), 0x7A363335, "Text", "TEdC dtext='' tfield=1"},
    {"Path", "Enable Pathbinding", M(InPathBinding), 0x6B435042, "Numb", Check},
    {"Path", "Polyline Path", M(InPathPolyline), 0x6E4C6CD0, "PlLn", "PLIC vw=PlLC poly=0 pname='Polyline Path'"},
    {"Path", "Speed Variance", M(InPathSpeedVariance), 0x74536742, "Numb", "SliC min=0 max=1 def=0"},
    {"Path", "Strict Mode", M(InStrictMode), 0x644D7453, "Numb", Check},
    {"Path", "Strict Mode Deviation", M(InStrictDeviation), 0x70537453, "LUT!",
     Spline + "color=0xFFFFFF grp=4 gpos=0 edit=1"},
    {"Path", "Maximum Deviation", M(InMaximumDeviation), 0x7644784D, "Numb", "SliC min=0 max=10 shi=2 def=1"},
    {"Color", "Color Tinting", M(InColorTinting), 0x54726C43, "Numb", Check},
    {"Color", "Red Spline", M(InRedSpline), 0x70533143, "LUT!", Spline + "color=0x0000FF grp=2 gpos=0 edit=0"},
    {"Color", "Green Spline", M(InGreenSpline), 0x70533243, "LUT!", Spline + "color=0x00FF00 grp=2 gpos=1 edit=0"},
    {"Color", "Blue Spline", M(InBlueSpline), 0x70533343, "LUT!", Spline + "color=0xFF0000 grp=2 gpos=2 edit=0"},
    {"Color", "Edit Red", M(InEditRed), 0x684364D2, "Numb", Check + " eds=3"},
    {"Color", "Edit Green", M(InEditGreen), 0x68436EC7, "Numb", Check + " eds=3"},
    {"Color", "Edit Blue", M(InEditBlue), 0x68436CC2, "Numb", Check + " eds=3"},
    {"Color", "Color Morph", M(InColorMorph), 0x70536F4D, "LUT!", Spline + "color=0xFFFFFF grp=3 gpos=0 edit=1"},
    {"Motion", "Motion Blur", M(InMotionBlur), 0x726C424D, "Numb", Check},
    {"Motion", "Shutter Angle", M(InShutterAngle), 0x6E416853, "Numb", "SliC min=0 max=720 slo=0 shi=360 def=180"},
    {"Motion", "Shutter Offset", M(InShutterOffset), 0x664F6853, "Numb", "SliC min=0 max=2 def=1 int=1"},
    {"Motion", "Motion Blur Samples", M(InMotionBlurSamples), 0x6D53424D, "Numb", "SliC min=1 max=64 shi=16 def=8 int=1"},
    {"Motion", "Turbulence", M(InTurbulence), 0x62727554, "Numb", "SliC min=0 max=1 shi=0.05 def=0"},
    {"Motion", "Turbulence Scale", M(InTurbulenceScale), 0x63536254, "Numb", "SliC min=0.01 max=10 shi=1 def=0.25"},
    {"Motion", "Turbulence Speed", M(InTurbulenceSpeed), 0x70536254, "Numb", "SliC min=0 max=10 shi=0.2 def=0.02"},
    {"Motion", "Wind", M(InWind), 0x646E6957, "Poin", "OffC dx=0 dy=0"},
    {nullptr, "Particle", M(InParticleImage), 0x02706EC9, "Imag", ""},
    {nullptr, "Image", M(InImage), 0x01706EC9, "Imag", ""},
};

class ControlTable : public ::testing::Test {
protected:
    ~ControlTable() override { Op->Recycle(); }
    Registry Reg{&ClassRegistry, "ControlTableTest", {}};
    P* Op = static_cast<P*>(CreateParticleOperator(&Reg, nullptr, nullptr));
};

TEST_F(ControlTable, PagesInputsAndOutputMatchTheTableInOrder) {
    std::vector<std::string> pages;
    for (const ControlPage& p : Op->Pages()) pages.push_back(p.Name);
    EXPECT_EQ(pages, (std::vector<std::string>{"Setup", "Forces", "Behavior", "Image", "Rotation", "Modifiers",
                                               "Load/Save", "Path", "Color", "Motion"}));
    const auto& inputs = Op->Inputs();
    ASSERT_EQ(inputs.size(), Expected.size());
    for (size_t i = 0; i < Expected.size(); ++i) {
        const Row& row = Expected[i];
        const Input* in = inputs[i];
        SCOPED_TRACE("row " + std::to_string(i) + " \"" + row.Label + "\"");
        EXPECT_EQ(std::tuple(in->Label, in->ID, in->DataType), std::tuple(row.Label, row.ID, Code(row.Type)));
        if (row.Page) {
            ASSERT_GE(in->Page, 0);
            EXPECT_EQ(Op->Pages()[size_t(in->Page)].Name, row.Page);
        } else {
            EXPECT_EQ(in->Page, -1);
        }
        if (row.Member) {
            EXPECT_EQ(Op->ControlInput(std::string_view(row.Member).substr(2)), in) << row.Member;
        }
        EXPECT_EQ(Describe(inputs, i), row.Tags);
    }
    ASSERT_EQ(Op->Outputs(), std::vector<Output*>{Op->OutImage});
    EXPECT_EQ(std::tuple(Op->OutImage->Label, Op->OutImage->ID, Op->OutImage->DataType),
              std::tuple("Image", 0x017475CFu, Code("Imag")));
}

TEST_F(ControlTable, TheFactoryTagSeedsTheToolsGenerator) {
    TagList none, seeded{{Tags::RandomSeed, int32_t(77)}};
    for (auto [tags, state] : {std::pair<TagList*, uint32_t>{nullptr, 1}, {&none, 1}, {&seeded, 77}}) {
        P* op = static_cast<P*>(CreateParticleOperator(&Reg, nullptr, tags));
        EXPECT_EQ(op->Random.GetState(), state) << tags;
        op->Recycle();
    }
}

TEST_F(ControlTable, InputNameTableListsEveryStoredInputAndTheOutput) {
    std::string expected;
    char line[128];
    for (const Row& row : Expected) {
        if (!row.Member) continue;
        std::snprintf(line, sizeof line, "%08x %s\n", unsigned(row.ID), row.Member);
        expected += line;
    }
    EXPECT_EQ(InputNameTable(*Op), expected + "017475cf OutImage\n");
}

}  // namespace
