#include "host/fourcc.h"
#include "host/tags.h"
#include "operator/particle_operator.h"

// The tool's controls, page by page, in the order the host shows them. Every
// input's tags come in one order: page control, view control, allowed range,
// slider scale, default, then the input's own tags.
namespace {

// Page controls.
constexpr uint32_t SliderControl = FourCC("SliC");
constexpr uint32_t CheckBoxControl = FourCC("ChBC");
constexpr uint32_t ButtonControl = FourCC("BtnC");
constexpr uint32_t ScrollControl = FourCC("ScrC");
constexpr uint32_t RangeControl = FourCC("RngC");
constexpr uint32_t OffsetControl = FourCC("OffC");
constexpr uint32_t SplineControl = FourCC("SplC");
constexpr uint32_t TextEditControl = FourCC("TEdC");
constexpr uint32_t LabelControl = FourCC("PLIC");
// View controls.
constexpr uint32_t CrosshairView = FourCC("XHrC");
constexpr uint32_t PointView = FourCC("PntC");
constexpr uint32_t AngleView = FourCC("AngC");
constexpr uint32_t PolyLineView = FourCC("PlLC");

// The kind of every curve the tool edits.
constexpr uint32_t CurveKindBezier = FourCC("LtBz");
// A pair's first point carries this value; the second carries the first's handle.
constexpr int32_t FirstOfPair = 2;

constexpr uint32_t White = 0xFFFFFF, Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000;

// The image inputs' and output's IDs (first byte outside printable ASCII).
constexpr uint32_t ParticleImageId = 0x02706EC9;
constexpr uint32_t BackgroundImageId = 0x01706EC9;
constexpr uint32_t OutputImageId = 0x017475CF;

// The label of the merge slider: its two ends, spaced to sit under the slider's ends.
constexpr const char* MergeLabel = "Subtractive                                   Additive";
constexpr const char* EmptyText = "";
constexpr const char* PolyLinePathName = "Polyline Path";

}  // namespace

void ParticleOperator::CreateControls() {
    using namespace Tags;
    // A label-only input: shows its label (or spaces the page) and holds nothing.
    auto label = [this](const char* text, const char (&id)[5]) {
        AddInput(text, DT_Number, FourCC(id), {{PageControl, LabelControl}, {LabelAttr1, 0}, {LabelAttr2, 1}});
    };
    auto checkBox = [this](const char* text, uint32_t id) {
        return AddInput(text, DT_Number, id,
                        {{PageControl, CheckBoxControl}, {Default, 0.0}, {ButtonAttr, 1}, {CheckBoxAttr, 1}});
    };
    auto curve = [this](const char* text, const char (&id)[5], uint32_t color, int32_t group, int32_t position,
                        int32_t editing) {
        return AddInput(text, DT_LookUpTable, FourCC(id),
                        {{PageControl, SplineControl}, {RangeLow, 0.0}, {RangeHigh, 255.0}, {CurveKind, CurveKindBezier},
                         {CurveColor, color}, {Group, group}, {GroupPosition, position}, {CurveEditing, editing}});
    };
    // One half of a start/end range of frame numbers.
    auto frameRange = [this](const char* text, const char (&id)[5], double def, int32_t group, int32_t position) {
        return AddInput(text, DT_Number, FourCC(id),
                        {{PageControl, RangeControl}, {RangeLow, 0.0}, {RangeHigh, 10000.0}, {Default, def},
                         {Group, group}, {GroupPosition, position}, {Integer, 1}});
    };

    // --- Setup ---
    AddControlPage("Setup", 0);
    InResetPosition = AddInput("Reset Position", DT_Number, FourCC("Rest"), {{PageControl, ButtonControl}, {ButtonAttr, 1}});
    InFastForward = AddInput("FastForward", DT_Number, FourCC("Prer"), {{PageControl, ButtonControl}, {ButtonAttr, 1}});
    InRollFrames = AddInput("Roll frames", DT_Number, FourCC("PrAm"),
                            {{PageControl, SliderControl}, {RangeLow, 1.0}, {RangeHigh, 1000.0}, {ScaleHigh, 100.0},
                             {Default, 20.0}, {Integer, 1}});
    label("", "Dm23");
    InBirthrate = AddInput("Birthrate", DT_Number, FourCC("Nmbr"),
                           {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1000.0}, {ScaleLow, 0.0},
                            {ScaleHigh, 10.0}, {Default, 3.0}});
    // The lifetime has a lower limit only.
    InLifetime = AddInput("Lifetime", DT_Number, FourCC("Sust"),
                          {{PageControl, SliderControl}, {RangeLow, 0.0}, {ScaleHigh, 100.0}, {Default, 30.0}});
    InSlowMotion = AddInput("SlowMotion", DT_Number, FourCC("SlMo"),
                            {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 10.0}, {ScaleHigh, 2.0},
                             {Default, 1.0}});
    label("", "Dm76");
    InApplyBirthImage = checkBox("Apply Birthimage on all", FourCC("BtCk"));
    label("", "Dm24");
    InEnableScale = checkBox("Enable Scale", FourCC("ScCk"));
    InGeneralSize = AddInput("General Size", DT_Number, FourCC("Scal"),
                             {{PageControl, SliderControl}, {RangeLow, 0.1}, {RangeHigh, 5.0}, {ScaleHigh, 2.0},
                              {Default, 1.0}});
    InSizeVariance = AddInput("SizeVariance", DT_Number, FourCC("ScVr"),
                              {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 5.0}, {ScaleHigh, 1.0},
                               {Default, 0.0}});
    label("", "Dm25");
    InStart = AddInput("Start", DT_Point, 0x746E65C3,
                       {{PageControl, OffsetControl}, {ViewControl, CrosshairView}, {DefaultX, 0.2}, {DefaultY, 0.2},
                        {PointPair, FirstOfPair}});
    InEnd = AddInput("End", DT_Point, FourCC("2ndP"),
                     {{PageControl, OffsetControl}, {ViewControl, PointView}, {DefaultX, 0.2}, {DefaultY, 0.3},
                      {PointPair, InStart}});
    InUseBirthSpline = checkBox("Use Birthspline", FourCC("BTSC"));
    InBirthSpline = AddInput("BirthSpline", DT_PolyLine, FourCC("BTSP"),
                             {{PageControl, LabelControl}, {ViewControl, PolyLineView}, {PolyLineAttr, 0}});

    // --- Forces ---
    AddControlPage("Forces", 0);
    InOrientation = AddInput("Orientation", DT_Number, FourCC("SpAn"),
                             {{PageControl, ScrollControl}, {ViewControl, AngleView}, {RangeLow, -20059.99},
                              {RangeHigh, 20059.99}, {ScaleLow, 0.0}, {ScaleHigh, 360.0}, {Default, 0.0}});
    InSpread = AddInput("Spread", DT_Number, FourCC("OrVr"),
                        {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {Default, 0.1}});
    label("", "Dmy3");
    InSpeed = AddInput("Speed", DT_Number, FourCC("Sped"),
                       {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 100.0}, {ScaleHigh, 0.05},
                        {Default, 0.01}});
    InSpeedVariance = AddInput("SpeedVariance", DT_Number, FourCC("SpVr"),
                               {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {Default, 0.0}});
    label("", "Dmy4");
    InGravity = AddInput("Gravity", DT_Number, FourCC("Grvt"),
                         {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 100.0}, {ScaleHigh, 0.5},
                          {Default, 0.1}});
    InGravityAngle = AddInput("GravityAngle", DT_Number, FourCC("GrAn"),
                              {{PageControl, ScrollControl}, {ViewControl, AngleView}, {RangeLow, -1000000.99},
                               {RangeHigh, 1000000.99}, {ScaleLow, 0.0}, {ScaleHigh, 360.0}, {Default, 270.0}});

    // --- Behavior ---
    AddControlPage("Behavior", 0);
    InEnableFade = checkBox("Enable Fade In/Out", FourCC("RgCk"));
    InMergeSpline = curve("Merge Spline", "SpMg", White, 6, 0, 1);
    label("", "Dmy1");
    InEnableGrow = checkBox("Enable Grow In/Out", FourCC("SzCk"));
    InGrowSpline = curve("Grow Spline", "SpGr", White, 7, 0, 1);
    InMaximumSize = AddInput("Maximum size", DT_Number, FourCC("MxSz"),
                             {{PageControl, SliderControl}, {RangeLow, 0.1}, {RangeHigh, 100.0}, {ScaleHigh, 4.0},
                              {Default, 2.0}});
    label("", "Dmy2");
    InEnableBlur = checkBox("Enable Blur In/Out", FourCC("BrCk"));
    InBlurSpline = curve("Blur Spline", "SpBr", White, 8, 0, 1);
    InMaximumBlur = AddInput("Maximum Blur", DT_Number, FourCC("MxBr"),
                             {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 10000.0}, {ScaleHigh, 100.0},
                              {Default, 50.0}});

    // --- Image ---
    AddControlPage("Image", 0);
    label(" Merge", "Dm39");
    InMerge = AddInput(MergeLabel, DT_Number, FourCC("Addi"),
                       {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {Default, 1.0}});
    InBlurQuality = AddInput("Gaussian Blur Quality", DT_Number, FourCC("GaBQ"),
                             {{PageControl, SliderControl}, {RangeLow, 1.0}, {RangeHigh, 7.0}, {Default, 3.0},
                              {Integer, 1}});
    label("", "Dmy8");
    InImageStartFrame = frameRange("Start Frame", "PrSt", 0.0, 15, 0);
    InImageLastFrame = frameRange("Last Frame", "PrEn", 100.0, 15, 1);
    // "paricle" is the tool's own spelling; keep it.
    InPreloadShapes = AddInput("Preload paricle shapes", DT_Text, FourCC("PrlS"),
                               {{PageControl, ButtonControl}, {ButtonAttr, 1}, {Disabled, 0}});
    InDeletePreloaded = AddInput("Delete preloaded particle shapes", DT_Text, FourCC("PrlD"),
                                 {{PageControl, ButtonControl}, {ButtonAttr, 1}, {Disabled, 1}});
    Pool.BirthAccumulator = 0.0;
    InFreeze = AddInput("Freeze and Precalculate", DT_Number, FourCC("Frez"),
                        {{PageControl, ButtonControl}, {ButtonAttr, 1}, {Visible, 0}});

    // --- Rotation ---
    AddControlPage("Rotation", 0);
    InRotationSpeed = AddInput("RotationSpeed (degrees per frame)", DT_Number, FourCC("CRot"),
                               {{PageControl, SliderControl}, {RangeLow, -720.0}, {RangeHigh, 720.0}, {ScaleLow, -30.0},
                                {ScaleHigh, 30.0}, {Default, 0.0}});
    InRotationVariance = AddInput("RotationVariance", DT_Number, FourCC("CRVr"),
                                  {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {Default, 0.0}});
    InStartingAngle = AddInput("StartingAngle", DT_Number, FourCC("Brth"),
                               {{PageControl, SliderControl}, {RangeLow, -359.0}, {RangeHigh, 359.0}, {Default, 0.0}});
    InBanking = checkBox("Enable Banking", FourCC("Bnkn"));

    // --- Modifiers ---
    AddControlPage("Modifiers", 0);
    auto attractorPoint = [this](const char* text, const char (&id)[5]) {
        return AddInput(text, DT_Point, FourCC(id),
                        {{PageControl, OffsetControl}, {ViewControl, CrosshairView}, {DefaultX, 0.5}, {DefaultY, 0.5}});
    };
    auto strength = [this](const char (&id)[5]) {
        return AddInput("AttractorStrength", DT_Number, FourCC(id),
                        {{PageControl, SliderControl}, {RangeLow, -5.0}, {RangeHigh, 5.0}, {Default, 0.0}});
    };
    auto elasticity = [this](const char (&id)[5]) {
        return AddInput("Elasticity", DT_Number, FourCC(id),
                        {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 2.0}, {Default, 1.0}});
    };
    auto roughness = [this](const char (&id)[5]) {
        return AddInput("Roughness", DT_Number, FourCC(id),
                        {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {Default, 0.0}});
    };
    auto pairStart = [this](const char* text, const char (&id)[5], double x, double y) {
        return AddInput(text, DT_Point, FourCC(id),
                        {{PageControl, OffsetControl}, {ViewControl, CrosshairView}, {DefaultX, x}, {DefaultY, y},
                         {PointPair, FirstOfPair}});
    };
    auto pairEnd = [this](const char* text, const char (&id)[5], double x, double y, Input* first) {
        return AddInput(text, DT_Point, FourCC(id),
                        {{PageControl, OffsetControl}, {ViewControl, PointView}, {DefaultX, x}, {DefaultY, y},
                         {PointPair, first}});
    };
    InAttractor1Enable = checkBox("Enable Attractor 1", FourCC("A1Ck"));
    InAttractor1 = attractorPoint("Attractor/Deflector 1", "FoPo");
    InAttractor1Strength = strength("AtSt");
    label("", "Dmy5");
    InAttractor2Enable = checkBox("Enable Attractor 2", FourCC("A2Ck"));
    InAttractor2 = attractorPoint("Attractor/Deflector 2", "FoP2");
    InAttractor2Strength = strength("AtS2");
    label("", "Dmy6");
    InBounce1Enable = checkBox("Enable BounceLine 1", FourCC("B1Ck"));
    InBounce1Elasticity = elasticity("Elas");
    InBounce1Roughness = roughness("Rou1");
    InBounce1Start = pairStart("BounceLine1 Start", "BcP1", 0.1, 0.4);
    InBounce1End = pairEnd("BounceLine1 End", "BcP2", 0.5, 0.7, InBounce1Start);
    label("", "Dmy7");
    InBounce2Enable = checkBox("Enable BounceLine 2", FourCC("B2Ck"));
    InBounce2Elasticity = elasticity("Ela2");
    InBounce2Roughness = roughness("Rou2");
    InBounce2Start = pairStart("BounceLine2 Start", "BP21", 0.2, 0.5);
    InBounce2End = pairEnd("BounceLine2 End", "BP22", 0.7, 0.6, InBounce2Start);
    // The label is the tool's own joke; keep it.
    InTumble = AddInput("Number of beer per particle", DT_Number, FourCC("Tumb"),
                        {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {ScaleHigh, 10.0},
                         {Default, 0.0}});

    // --- Load/Save ---
    AddControlPage("Load/Save", 0);
    label(" Warning: Birthimage will be applied on all !", "Dm10");
    InSaveFile = AddInput("Save MotionData under...", DT_Text, FourCC("SvFl"),
                          {{PageControl, ButtonControl}, {ButtonAttr, 1}});
    InRecordStartFrame = frameRange("Start Frame", "SvSt", 0.0, 13, 0);
    InRecordLastFrame = frameRange("Last Frame", "SvEn", 100.0, 13, 1);
    InRecordNow = AddInput("Record now", DT_Text, FourCC("SvSy"), {{PageControl, ButtonControl}, {ButtonAttr, 1}});
    InLoadStartFrame = frameRange("Start Frame", "LdSt", 0.0, 14, 0);
    InLoadLastFrame = frameRange("Last Frame", "LdEn", 100.0, 14, 1);
    InLoadSystem = AddInput("Load System", DT_Text, FourCC("LdSy"), {{PageControl, ButtonControl}, {ButtonAttr, 1}});
    InReverse = checkBox("Reverse", FourCC("Revr"));
    // The one label-only input with a handle: the loading code shows and hides it.
    InLoadedNotice = AddInput(" System is Loaded !", DT_Number, FourCC("Dm66"),
                              {{PageControl, LabelControl}, {LabelAttr1, 0}, {LabelAttr2, 1}, {Visible, 0}});
    InUnloadSystem = AddInput("Unload System", DT_Text, FourCC("UlSy"),
                              {{PageControl, ButtonControl}, {ButtonAttr, 1}, {Disabled, 1}});
    InSystemFile = AddInput("", DT_Text, FourCC("536z"),
                            {{PageControl, TextEditControl}, {DefaultText, EmptyText}, {TextFieldAttr, 1}});

    // --- Path ---
    AddControlPage("Path", 0);
    InPathBinding = checkBox("Enable Pathbinding", FourCC("BPCk"));
    InPathPolyline = AddInput("Polyline Path", DT_PolyLine, 0x6E4C6CD0,
                              {{PageControl, LabelControl}, {ViewControl, PolyLineView}, {PolyLineAttr, 0},
                               {PolyLineName, PolyLinePathName}});
    InPathSpeedVariance = AddInput("Speed Variance", DT_Number, FourCC("BgSt"),
                                   {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 1.0}, {Default, 0.0}});
    InStrictMode = checkBox("Strict Mode", FourCC("StMd"));
    InStrictDeviation = curve("Strict Mode Deviation", "StSp", White, 4, 0, 1);
    InMaximumDeviation = AddInput("Maximum Deviation", DT_Number, FourCC("MxDv"),
                                  {{PageControl, SliderControl}, {RangeLow, 0.0}, {RangeHigh, 10.0}, {ScaleHigh, 2.0},
                                   {Default, 1.0}});

    // --- Color ---
    AddControlPage("Color", 0);
    auto editSwitch = [this](const char* text, uint32_t id) {
        return AddInput(text, DT_Number, id,
                        {{PageControl, CheckBoxControl}, {Default, 0.0}, {ButtonAttr, 1}, {CheckBoxAttr, 1},
                         {EditSwitchAttr, 3}});
    };
    InColorTinting = checkBox("Color Tinting", FourCC("ClrT"));
    // The three colour curves share one editor, red first.
    InRedSpline = curve("Red Spline", "C1Sp", Red, 2, 0, 0);
    InGreenSpline = curve("Green Spline", "C2Sp", Green, 2, 1, 0);
    InBlueSpline = curve("Blue Spline", "C3Sp", Blue, 2, 2, 0);
    InEditRed = editSwitch("Edit Red", 0x684364D2);
    InEditGreen = editSwitch("Edit Green", 0x68436EC7);
    InEditBlue = editSwitch("Edit Blue", 0x68436CC2);
    InColorMorph = curve("Color Morph", "MoSp", White, 3, 0, 1);

    // --- images ---
    InParticleImage = AddInput("Particle", DT_Image, ParticleImageId);
    InImage = AddInput("Image", DT_Image, BackgroundImageId);
    OutImage = AddOutput("Image", DT_Image, OutputImageId);
}
