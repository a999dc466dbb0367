#include "operator/control_table.h"

#include <cstdio>

#include "host/fourcc.h"

namespace controls {

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
// A pair's first point carries this value; the second names the first.
constexpr int32_t FirstOfPair = 2;

constexpr uint32_t White = 0xFFFFFF, Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000;

enum PageIndex { Setup, Forces, Behavior, Image, Rotation, Modifiers, LoadSave, Path, Color, Motion };

constexpr std::optional<double> No = std::nullopt;

constexpr uint32_t Id(const char (&code)[5]) { return FourCC(code); }

ExtraTag Num(uint32_t tag, double value) { return {tag, ExtraTag::Kind::Number, value, nullptr}; }
ExtraTag Txt(uint32_t tag, const char* text) { return {tag, ExtraTag::Kind::Text, 0.0, text}; }
ExtraTag Ref(uint32_t tag, uint32_t id) { return {tag, ExtraTag::Kind::InputId, double(id), nullptr}; }

const ExtraTag Whole = Num(Tags::Integer, 1);
const ExtraTag EditSwitch = Num(Tags::EditSwitchAttr, 3);

// A table entry being written: the control plus what its value means.
struct Entry {
    Control C;
    Entry&& Means(const char* unit, const char* meaning) && {
        C.Unit = unit;
        C.Meaning = meaning;
        return std::move(*this);
    }
    Entry&& Frei0r() && {
        C.Frei0r = true;
        return std::move(*this);
    }
};

Entry Make(int page, uint32_t id, const char* label, const char* key, uint32_t type, uint32_t pageControl) {
    Entry e;
    e.C.Id = id;
    e.C.Page = page;
    e.C.Label = label;
    e.C.Key = key;
    e.C.Type = type;
    e.C.PageControl = pageControl;
    return e;
}

// A caption or an empty line of the page: shows its label, holds nothing.
Entry Spacer(int page, const char (&id)[5], const char* label) {
    Entry e = Make(page, Id(id), label, "", DT_Number, LabelControl);
    e.C.Extra = {Num(Tags::LabelAttr1, 0), Num(Tags::LabelAttr2, 1)};
    return e;
}
Entry Caption(int page, const char (&id)[5], const char* label, const char* key, std::vector<ExtraTag> more) {
    Entry e = Spacer(page, id, label);
    e.C.Key = key;
    e.C.Extra.insert(e.C.Extra.end(), more.begin(), more.end());
    return e;
}
Entry Button(int page, const char (&id)[5], const char* label, const char* key, std::vector<ExtraTag> more = {}) {
    Entry e = Make(page, Id(id), label, key, DT_Number, ButtonControl);
    e.C.Extra = {Num(Tags::ButtonAttr, 1)};
    e.C.Extra.insert(e.C.Extra.end(), more.begin(), more.end());
    return e;
}
// A button that carries a text (a file path or nothing).
Entry TextButton(int page, const char (&id)[5], const char* label, const char* key, std::vector<ExtraTag> more = {}) {
    Entry e = Button(page, id, label, key, std::move(more));
    e.C.Type = DT_Text;
    return e;
}
Entry CheckBox(int page, uint32_t id, const char* label, const char* key, std::vector<ExtraTag> more = {}) {
    Entry e = Make(page, id, label, key, DT_Number, CheckBoxControl);
    e.C.Default = 0.0;
    e.C.Extra = {Num(Tags::ButtonAttr, 1), Num(Tags::CheckBoxAttr, 1)};
    e.C.Extra.insert(e.C.Extra.end(), more.begin(), more.end());
    return e;
}
Entry CheckBox(int page, const char (&id)[5], const char* label, const char* key) {
    return CheckBox(page, Id(id), label, key);
}
Entry Slider(int page, const char (&id)[5], const char* label, const char* key, std::optional<double> low,
             std::optional<double> high, std::optional<double> scaleLow, std::optional<double> scaleHigh,
             double def, std::vector<ExtraTag> more = {}) {
    Entry e = Make(page, Id(id), label, key, DT_Number, SliderControl);
    e.C.Low = low;
    e.C.High = high;
    e.C.ScaleLow = scaleLow;
    e.C.ScaleHigh = scaleHigh;
    e.C.Default = def;
    e.C.Extra = std::move(more);
    return e;
}
// An angle: a scroll control with an angle view; the scale is one turn.
Entry Scroll(int page, const char (&id)[5], const char* label, const char* key, double low, double high, double def) {
    Entry e = Slider(page, id, label, key, low, high, 0.0, 360.0, def);
    e.C.PageControl = ScrollControl;
    e.C.ViewControl = AngleView;
    return e;
}
// One half of a start/end range of frame numbers.
Entry FrameRange(int page, const char (&id)[5], const char* label, const char* key, double def, int group,
                 int position) {
    Entry e = Make(page, Id(id), label, key, DT_Number, RangeControl);
    e.C.Low = 0.0;
    e.C.High = 10000.0;
    e.C.Default = def;
    e.C.Extra = {Num(Tags::Group, group), Num(Tags::GroupPosition, position), Whole};
    return e;
}
Entry Curve(int page, const char (&id)[5], const char* label, const char* key, uint32_t color, int group,
            int position, int editing) {
    Entry e = Make(page, Id(id), label, key, DT_LookUpTable, SplineControl);
    e.C.Low = 0.0;
    e.C.High = 255.0;
    e.C.Extra = {Num(Tags::CurveKind, CurveKindBezier), Num(Tags::CurveColor, color), Num(Tags::Group, group),
                 Num(Tags::GroupPosition, position), Num(Tags::CurveEditing, editing)};
    return e;
}
Entry Point(int page, uint32_t id, const char* label, const char* key, double x, double y, uint32_t view,
            std::vector<ExtraTag> more) {
    Entry e = Make(page, id, label, key, DT_Point, OffsetControl);
    e.C.ViewControl = view;
    e.C.DefaultX = x;
    e.C.DefaultY = y;
    e.C.Extra = std::move(more);
    return e;
}
Entry Point(int page, const char (&id)[5], const char* label, const char* key, double x, double y) {
    return Point(page, Id(id), label, key, x, y, CrosshairView, {});
}
// The two ends of a line: the first shows a crosshair, the second a point tied to the first.
Entry PairStart(int page, uint32_t id, const char* label, const char* key, double x, double y) {
    return Point(page, id, label, key, x, y, CrosshairView, {Num(Tags::PointPair, FirstOfPair)});
}
Entry PairEnd(int page, uint32_t id, const char* label, const char* key, double x, double y, uint32_t first) {
    return Point(page, id, label, key, x, y, PointView, {Ref(Tags::PointPair, first)});
}
Entry PolyLine(int page, uint32_t id, const char* label, const char* key, std::vector<ExtraTag> more) {
    Entry e = Make(page, id, label, key, DT_PolyLine, LabelControl);
    e.C.ViewControl = PolyLineView;
    e.C.Extra = {Num(Tags::PolyLineAttr, 0)};
    e.C.Extra.insert(e.C.Extra.end(), more.begin(), more.end());
    return e;
}
Entry TextField(int page, const char (&id)[5], const char* label, const char* key) {
    Entry e = Make(page, Id(id), label, key, DT_Text, TextEditControl);
    e.C.DefaultText = "";
    e.C.Extra = {Num(Tags::TextFieldAttr, 1)};
    return e;
}
Entry ImageInput(uint32_t id, const char* label, const char* key) { return Make(-1, id, label, key, DT_Image, 0); }

// Units and descriptions: the numbers come from how the simulation uses each
// value. Positions and speeds are measured in picture heights (a picture twice as
// wide as high spans 2 across), time in frames at SlowMotion 1, angles in degrees
// counter-clockwise from the picture's +x axis (90 is up).
// tests/scripts/control_units.sh measures the main ones on recorded particles.
std::vector<Control> MakeTable() {
    const Entry entries[] = {
        // --- Setup ---
        Button(Setup, "Rest", "Reset Position", "ResetPosition")
            .Means("",
                   "Button: removes every particle; the simulation starts afresh at the next frame."),
        Button(Setup, "Prer", "FastForward", "FastForward")
            .Means("",
                   "Button: runs RollFrames frames of simulation before the next frame, so it shows a developed system."),
        Slider(Setup, "PrAm", "Roll frames", "RollFrames", 1.0, 1000.0, No, 100.0, 20.0, {Whole})
            .Means("frames",
                   "How many frames of simulation FastForward runs."),
        Spacer(Setup, "Dm23", ""),
        Slider(Setup, "Nmbr", "Birthrate", "Birthrate", 0.0, 1000.0, 0.0, 10.0, 3.0)
            .Frei0r()
            .Means("particles per frame",
                   "Particles born per frame, times SlowMotion; fractions carry over to the next frame."),
        // The lifetime has a lower limit only.
        Slider(Setup, "Sust", "Lifetime", "Lifetime", 0.0, No, No, 100.0, 30.0)
            .Means("frames",
                   "Age at which a particle dies: it lives while its age in whole frames is below Lifetime."),
        Slider(Setup, "SlMo", "SlowMotion", "SlowMotion", 0.0, 10.0, No, 2.0, 1.0)
            .Means("frames of simulation per frame",
                   "Simulated time per frame: 1 is normal speed, 0.5 half speed, 0 freezes the particles; halved for field images."),
        Spacer(Setup, "Dm76", ""),
        CheckBox(Setup, "BtCk", "Apply Birthimage on all", "ApplyBirthImage")
            .Means("switch",
                   "Draws every particle with the current particle image instead of the image it was born with."),
        Spacer(Setup, "Dm24", ""),
        CheckBox(Setup, "ScCk", "Enable Scale", "EnableScale")
            .Means("switch",
                   "Gives each particle a random size (GeneralSize, SizeVariance) at birth; off, every particle has size 1."),
        Slider(Setup, "Scal", "General Size", "GeneralSize", 0.1, 5.0, No, 2.0, 1.0)
            .Frei0r()
            .Means("times the particle image's size",
                   "Size of a particle born with EnableScale on, before SizeVariance."),
        Slider(Setup, "ScVr", "SizeVariance", "SizeVariance", 0.0, 5.0, No, 1.0, 0.0)
            .Means("x 0.41 particle image sizes (standard deviation)",
                   "Random spread of the size at birth: up to +/-1.23 x SizeVariance around GeneralSize, bell-shaped with standard deviation 0.41 x SizeVariance; never below 0.1."),
        Spacer(Setup, "Dm25", ""),
        PairStart(Setup, 0x746E65C3, "Start", "Start", 0.2, 0.2)
            .Frei0r()
            .Means("picture (0..1 across, 0..1 down)",
                   "One end of the line particles are born on, each at a random point of it."),
        PairEnd(Setup, Id("2ndP"), "End", "End", 0.2, 0.3, 0x746E65C3)
            .Frei0r()
            .Means("picture (0..1 across, 0..1 down)",
                   "The other end of the birth line."),
        CheckBox(Setup, "BTSC", "Use Birthspline", "UseBirthSpline")
            .Means("switch",
                   "Particles are born on BirthSpline instead of the Start-End line."),
        PolyLine(Setup, Id("BTSP"), "BirthSpline", "BirthSpline", {})
            .Means("picture, from its centre (-0.5..0.5)",
                   "Curve particles are born on, each at a random point along it, with UseBirthSpline on."),

        // --- Forces ---
        Scroll(Forces, "SpAn", "Orientation", "Orientation", -20059.99, 20059.99, 0.0)
            .Means("degrees, counter-clockwise from right (90 is up)",
                   "Direction particles are launched in."),
        Slider(Forces, "OrVr", "Spread", "Spread", 0.0, 1.0, No, No, 0.1)
            .Frei0r()
            .Means("x 109.2 degrees (standard deviation)",
                   "Random spread of the launch direction around Orientation: bell-shaped with standard deviation 109.2 x Spread degrees, at most +/-327.7 x Spread."),
        Spacer(Forces, "Dmy3", ""),
        Slider(Forces, "Sped", "Speed", "Speed", 0.0, 100.0, No, 0.05, 0.01)
            .Frei0r()
            .Means("picture heights per frame",
                   "Launch speed."),
        Slider(Forces, "SpVr", "SpeedVariance", "SpeedVariance", 0.0, 1.0, No, No, 0.0)
            .Means("x 1.09 Speed (standard deviation)",
                   "Random spread of the launch speed: Speed x (1 + up to +/-3.28 x SpeedVariance), bell-shaped with standard deviation 1.09 x SpeedVariance x Speed."),
        Spacer(Forces, "Dmy4", ""),
        Slider(Forces, "Grvt", "Gravity", "Gravity", 0.0, 100.0, No, 0.5, 0.1)
            .Frei0r()
            .Means("1/100 picture height per frame^2",
                   "Constant pull: a particle's speed changes by Gravity / 100 picture heights per frame every frame."),
        Scroll(Forces, "GrAn", "GravityAngle", "GravityAngle", -1000000.99, 1000000.99, 270.0)
            .Means("degrees, counter-clockwise from right (270 is down)",
                   "Direction gravity pulls in."),

        // --- Behavior ---
        CheckBox(Behavior, "RgCk", "Enable Fade In/Out", "EnableFade")
            .Means("switch",
                   "Multiplies each particle's opacity by MergeSpline at its age."),
        Curve(Behavior, "SpMg", "Merge Spline", "MergeSpline", White, 6, 0, 1)
            .Means("x: age / Lifetime; y: opacity (0..1)",
                   "Opacity over a particle's life, with EnableFade on."),
        Spacer(Behavior, "Dmy1", ""),
        CheckBox(Behavior, "SzCk", "Enable Grow In/Out", "EnableGrow")
            .Means("switch",
                   "Scales each particle by GrowSpline at its age, up to MaximumSize."),
        Curve(Behavior, "SpGr", "Grow Spline", "GrowSpline", White, 7, 0, 1)
            .Means("x: age / Lifetime; y: share of MaximumSize (0..1)",
                   "Size factor over a particle's life, with EnableGrow on; the identity curve grows from 0 to MaximumSize."),
        Slider(Behavior, "MxSz", "Maximum size", "MaximumSize", 0.1, 100.0, No, 4.0, 2.0)
            .Means("times the particle's size",
                   "Size factor that the top of GrowSpline stands for."),
        Spacer(Behavior, "Dmy2", ""),
        CheckBox(Behavior, "BrCk", "Enable Blur In/Out", "EnableBlur")
            .Means("switch",
                   "Blurs each particle by BlurSpline at its age, up to MaximumBlur."),
        Curve(Behavior, "SpBr", "Blur Spline", "BlurSpline", White, 8, 0, 1)
            .Means("x: age / Lifetime; y: share of MaximumBlur (0..1)",
                   "Blur over a particle's life, with EnableBlur on."),
        Slider(Behavior, "MxBr", "Maximum Blur", "MaximumBlur", 0.0, 10000.0, No, 100.0, 50.0)
            .Means("1/10 pixel (Gaussian standard deviation)",
                   "Blur that the top of BlurSpline stands for: 50 is a standard deviation of 5 output pixels."),

        // --- Image ---
        Spacer(Image, "Dm39", " Merge"),
        // The label is the slider's two ends, spaced to sit under them.
        Slider(Image, "Addi", "Subtractive                                   Additive", "Merge", 0.0, 1.0, No, No, 1.0)
            .Frei0r()
            .Means("0 subtractive (covers) .. 1 additive",
                   "How particles meet the background: 1 adds them to it, 0 lays them over it by their alpha."),
        Slider(Image, "GaBQ", "Gaussian Blur Quality", "BlurQuality", 1.0, 7.0, No, No, 3.0, {Whole})
            .Means("box passes",
                   "Number of box blurs that make up a particle's Gaussian blur: 1 is cheapest, 3 close to Gaussian."),
        Spacer(Image, "Dmy8", ""),
        FrameRange(Image, "PrSt", "Start Frame", "ImageStartFrame", 0.0, 15, 0)
            .Means("frames",
                   "First frame of the particle image sequence that PreloadShapes captures."),
        FrameRange(Image, "PrEn", "Last Frame", "ImageLastFrame", 100.0, 15, 1)
            .Means("frames",
                   "Last frame of the particle image sequence that PreloadShapes captures."),
        // "paricle" is the tool's own spelling; keep it.
        TextButton(Image, "PrlS", "Preload paricle shapes", "PreloadShapes", {Num(Tags::Disabled, 0)})
            .Means("",
                   "Button: captures the particle images of frames ImageStartFrame..ImageLastFrame into the tool."),
        TextButton(Image, "PrlD", "Delete preloaded particle shapes", "DeletePreloaded", {Num(Tags::Disabled, 1)})
            .Means("",
                   "Button: forgets the captured particle images."),
        Button(Image, "Frez", "Freeze and Precalculate", "Freeze", {Num(Tags::Visible, 0)})
            .Means("",
                   "Hidden button that does nothing; kept for flows that press it."),

        // --- Rotation ---
        Slider(Rotation, "CRot", "RotationSpeed (degrees per frame)", "RotationSpeed", -720.0, 720.0, -30.0, 30.0, 0.0)
            .Means("degrees per frame",
                   "How fast each particle turns (without Banking); added to its angle every frame."),
        Slider(Rotation, "CRVr", "RotationVariance", "RotationVariance", 0.0, 1.0, No, No, 0.0)
            .Means("x 81.9 degrees per frame",
                   "Random spread of each particle's rotation speed: evenly within +/-81.9 x RotationVariance degrees per frame around RotationSpeed."),
        Slider(Rotation, "Brth", "StartingAngle", "StartingAngle", -359.0, 359.0, No, No, 0.0)
            .Means("degrees",
                   "Angle every particle is born with; with Banking, added to its direction of motion."),
        CheckBox(Rotation, "Bnkn", "Enable Banking", "Banking")
            .Means("switch",
                   "Turns each particle to its direction of motion (plus StartingAngle) instead of rotating it by RotationSpeed."),

        // --- Modifiers ---
        CheckBox(Modifiers, "A1Ck", "Enable Attractor 1", "Attractor1Enable")
            .Means("switch",
                   "Turns attractor 1 on."),
        Point(Modifiers, "FoPo", "Attractor/Deflector 1", "Attractor1", 0.5, 0.5)
            .Means("picture (0..1 across, 0..1 down)",
                   "Position of attractor 1."),
        Slider(Modifiers, "AtSt", "AttractorStrength", "Attractor1Strength", -5.0, 5.0, No, No, 0.0)
            .Means("1/1000 picture height^2 per frame^2",
                   "Pull towards attractor 1 (negative: push away): every frame a particle d picture heights away gains Strength / 1000 / d picture heights per frame of speed towards it."),
        Spacer(Modifiers, "Dmy5", ""),
        CheckBox(Modifiers, "A2Ck", "Enable Attractor 2", "Attractor2Enable")
            .Means("switch",
                   "Turns attractor 2 on."),
        Point(Modifiers, "FoP2", "Attractor/Deflector 2", "Attractor2", 0.5, 0.5)
            .Means("picture (0..1 across, 0..1 down)",
                   "Position of attractor 2."),
        Slider(Modifiers, "AtS2", "AttractorStrength", "Attractor2Strength", -5.0, 5.0, No, No, 0.0)
            .Means("1/1000 picture height^2 per frame^2",
                   "Pull towards attractor 2, as Attractor1Strength."),
        Spacer(Modifiers, "Dmy6", ""),
        CheckBox(Modifiers, "B1Ck", "Enable BounceLine 1", "Bounce1Enable")
            .Means("switch",
                   "Turns bounce line 1 on."),
        Slider(Modifiers, "Elas", "Elasticity", "Bounce1Elasticity", 0.0, 2.0, No, No, 1.0)
            .Means("share of the speed kept",
                   "Share of its speed a particle keeps when it bounces off line 1: 1 keeps all, 0 stops it, 2 doubles it."),
        Slider(Modifiers, "Rou1", "Roughness", "Bounce1Roughness", 0.0, 1.0, No, No, 0.0)
            .Means("x 0.98 (tilt of the normal)",
                   "Random tilt of line 1 at each bounce: its normal turns by up to atan(0.98 x Roughness), 44.5 degrees at 1."),
        PairStart(Modifiers, Id("BcP1"), "BounceLine1 Start", "Bounce1Start", 0.1, 0.4)
            .Means("picture (0..1 across, 0..1 down)",
                   "Start of bounce line 1."),
        PairEnd(Modifiers, Id("BcP2"), "BounceLine1 End", "Bounce1End", 0.5, 0.7, Id("BcP1"))
            .Means("picture (0..1 across, 0..1 down)",
                   "End of bounce line 1."),
        Spacer(Modifiers, "Dmy7", ""),
        CheckBox(Modifiers, "B2Ck", "Enable BounceLine 2", "Bounce2Enable")
            .Means("switch",
                   "Turns bounce line 2 on."),
        Slider(Modifiers, "Ela2", "Elasticity", "Bounce2Elasticity", 0.0, 2.0, No, No, 1.0)
            .Means("share of the speed kept",
                   "Share of its speed a particle keeps when it bounces off line 2."),
        Slider(Modifiers, "Rou2", "Roughness", "Bounce2Roughness", 0.0, 1.0, No, No, 0.0)
            .Means("x 0.98 (tilt of the normal)",
                   "Random tilt of line 2 at each bounce, as Bounce1Roughness."),
        PairStart(Modifiers, Id("BP21"), "BounceLine2 Start", "Bounce2Start", 0.2, 0.5)
            .Means("picture (0..1 across, 0..1 down)",
                   "Start of bounce line 2."),
        PairEnd(Modifiers, Id("BP22"), "BounceLine2 End", "Bounce2End", 0.7, 0.6, Id("BP21"))
            .Means("picture (0..1 across, 0..1 down)",
                   "End of bounce line 2."),
        // The label is the tool's own joke; keep it.
        Slider(Modifiers, "Tumb", "Number of beer per particle", "Tumble", 0.0, 1.0, No, 10.0, 0.0)
            .Means("x 0.0655 picture heights per frame^2",
                   "Random jitter: every frame a particle's speed changes by a random amount of up to 0.0655 x Tumble picture heights per frame on each axis."),

        // --- Load/Save ---
        Spacer(LoadSave, "Dm10", " Warning: Birthimage will be applied on all !"),
        TextButton(LoadSave, "SvFl", "Save MotionData under...", "SaveFile")
            .Means("file path",
                   "Button: chooses the motion-data file (.lpd) that RecordNow writes."),
        FrameRange(LoadSave, "SvSt", "Start Frame", "RecordStartFrame", 0.0, 13, 0)
            .Means("frames",
                   "First frame a recording holds."),
        FrameRange(LoadSave, "SvEn", "Last Frame", "RecordLastFrame", 100.0, 13, 1)
            .Means("frames",
                   "Last frame a recording holds."),
        TextButton(LoadSave, "SvSy", "Record now", "RecordNow")
            .Means("",
                   "Button: records the particles of frames RecordStartFrame..RecordLastFrame into the SaveFile file."),
        FrameRange(LoadSave, "LdSt", "Start Frame", "LoadStartFrame", 0.0, 14, 0)
            .Means("frames",
                   "Frame at which a loaded recording starts playing."),
        FrameRange(LoadSave, "LdEn", "Last Frame", "LoadLastFrame", 100.0, 14, 1)
            .Means("frames",
                   "Frame at which a loaded recording stops playing."),
        TextButton(LoadSave, "LdSy", "Load System", "LoadSystem")
            .Means("file path",
                   "Button: loads a motion-data file and plays it instead of simulating."),
        CheckBox(LoadSave, "Revr", "Reverse", "Reverse")
            .Means("switch",
                   "Plays the loaded recording backwards."),
        // The one caption with a key: the loading code shows and hides it.
        Caption(LoadSave, "Dm66", " System is Loaded !", "LoadedNotice", {Num(Tags::Visible, 0)})
            .Means("",
                   "Hidden label; no value."),
        TextButton(LoadSave, "UlSy", "Unload System", "UnloadSystem", {Num(Tags::Disabled, 1)})
            .Means("",
                   "Button: stops playing the loaded recording."),
        TextField(LoadSave, "536z", "", "SystemFile")
            .Means("file path",
                   "Path of the loaded recording, kept by the tool."),

        // --- Path ---
        CheckBox(Path, "BPCk", "Enable Pathbinding", "PathBinding")
            .Means("switch",
                   "Particles follow PathPolyline over their life instead of moving freely."),
        PolyLine(Path, 0x6E4C6CD0, "Polyline Path", "PathPolyline", {Txt(Tags::PolyLineName, "Polyline Path")})
            .Means("picture, from its centre (-0.5..0.5)",
                   "Path the particles follow with PathBinding on."),
        Slider(Path, "BgSt", "Speed Variance", "PathSpeedVariance", 0.0, 1.0, No, No, 0.0)
            .Means("share of the path speed (0..1)",
                   "Random spread of how fast each particle moves along the path."),
        CheckBox(Path, "StMd", "Strict Mode", "StrictMode")
            .Means("switch",
                   "Keeps particles on the path, displaced sideways by StrictDeviation and MaximumDeviation."),
        Curve(Path, "StSp", "Strict Mode Deviation", "StrictDeviation", White, 4, 0, 1)
            .Means("x: progress along the path (0..1); y: share of MaximumDeviation",
                   "Sideways displacement from the path along it, in strict mode."),
        Slider(Path, "MxDv", "Maximum Deviation", "MaximumDeviation", 0.0, 10.0, No, 2.0, 1.0)
            .Means("x 0.655 picture",
                   "Largest sideways displacement from the path in strict mode: about 0.655 x MaximumDeviation of the picture."),

        // --- Color ---
        CheckBox(Color, "ClrT", "Color Tinting", "ColorTinting")
            .Means("switch",
                   "Tints each particle by the colour curves at its age."),
        // The three colour curves share one editor, red first.
        Curve(Color, "C1Sp", "Red Spline", "RedSpline", Red, 2, 0, 0)
            .Means("x: age / Lifetime; y: red (0..1)",
                   "Red of the tint over a particle's life."),
        Curve(Color, "C2Sp", "Green Spline", "GreenSpline", Green, 2, 1, 0)
            .Means("x: age / Lifetime; y: green (0..1)",
                   "Green of the tint over a particle's life."),
        Curve(Color, "C3Sp", "Blue Spline", "BlueSpline", Blue, 2, 2, 0)
            .Means("x: age / Lifetime; y: blue (0..1)",
                   "Blue of the tint over a particle's life."),
        CheckBox(Color, 0x684364D2, "Edit Red", "EditRed", {EditSwitch})
            .Means("switch",
                   "Opens the red curve in the host's curve editor; no effect on the picture."),
        CheckBox(Color, 0x68436EC7, "Edit Green", "EditGreen", {EditSwitch})
            .Means("switch",
                   "Opens the green curve in the host's curve editor; no effect on the picture."),
        CheckBox(Color, 0x68436CC2, "Edit Blue", "EditBlue", {EditSwitch})
            .Means("switch",
                   "Opens the blue curve in the host's curve editor; no effect on the picture."),
        Curve(Color, "MoSp", "Color Morph", "ColorMorph", White, 3, 0, 1)
            .Means("x: age / Lifetime; y: share of the tint (0..1)",
                   "How far the tint replaces the particle's own colour over its life."),

        // --- Motion: lumets' own page, after the tool's nine. Every control here
        // is off at its default, so a flow without them draws what it always drew.
        CheckBox(Motion, "MBlr", "Motion Blur", "MotionBlur")
            .Means("switch",
                   "Draws each particle smeared over the shutter interval between its previous and its current state."),
        Slider(Motion, "ShAn", "Shutter Angle", "ShutterAngle", 0.0, 720.0, 0.0, 360.0, 180.0)
            .Means("degrees (360 = one whole frame step)",
                   "How long the shutter stays open, with MotionBlur on: 180 smears over half a step, 360 over a whole step, 0 draws no streak."),
        Slider(Motion, "ShOf", "Shutter Offset", "ShutterOffset", 0.0, 2.0, No, No, 1.0, {Whole})
            .Means("0 start, 1 centre, 2 end",
                   "Where the shutter interval sits relative to the frame: opening at it (0), centred on it (1) or closing at it (2)."),
        Slider(Motion, "MBSm", "Motion Blur Samples", "MotionBlurSamples", 1.0, 64.0, No, 16.0, 8.0, {Whole})
            .Means("draws per particle",
                   "Sub-frame draws of each particle over the shutter interval, with MotionBlur on; 1 draws it once."),
        Slider(Motion, "Turb", "Turbulence", "Turbulence", 0.0, 1.0, No, 0.05, 0.0)
            .Frei0r()
            .Means("picture heights per frame (typical flow speed)",
                   "Strength of a smooth swirling flow (a divergence-free noise field) that carries the particles along; 0 is off."),
        Slider(Motion, "TbSc", "Turbulence Scale", "TurbulenceScale", 0.01, 10.0, No, 1.0, 0.25)
            .Means("picture heights",
                   "Size of the turbulence's swirls."),
        Slider(Motion, "TbSp", "Turbulence Speed", "TurbulenceSpeed", 0.0, 10.0, No, 0.2, 0.02)
            .Means("field periods per frame",
                   "How fast the turbulence changes over time: 0 is a still flow, 1 a new flow every frame."),
        Point(Motion, Id("Wind"), "Wind", "Wind", 0.0, 0.0, 0, {})
            .Means("picture heights per frame (x right, y down)",
                   "Velocity added to every free particle's own in each step: the particles drift with it."),

        // --- images (IDs with a first byte outside printable ASCII) ---
        ImageInput(0x02706EC9, "Particle", "ParticleImage"),
        ImageInput(0x01706EC9, "Image", "Image"),
    };
    std::vector<Control> table;
    for (const Entry& e : entries) table.push_back(e.C);
    return table;
}

const std::vector<Control>& Table() {
    static const std::vector<Control> table = MakeTable();
    return table;
}

}  // namespace

std::span<const Control> All() { return Table(); }

void AppendNameLine(std::string& text, uint32_t id, const std::string& name) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x ", unsigned(id));
    text += hex;
    text += name;
    text += '\n';
}


const Control* ByKey(const std::string& key) {
    if (key.empty()) return nullptr;
    for (const Control& c : Table())
        if (key == c.Key) return &c;
    return nullptr;
}

std::vector<TagItem> CreationTags(const Control& c, const std::function<const void*(uint32_t)>& inputById) {
    std::vector<TagItem> tags;
    if (c.PageControl) tags.emplace_back(Tags::PageControl, c.PageControl);
    if (c.ViewControl) tags.emplace_back(Tags::ViewControl, c.ViewControl);
    if (c.Low) tags.emplace_back(Tags::RangeLow, *c.Low);
    if (c.High) tags.emplace_back(Tags::RangeHigh, *c.High);
    if (c.ScaleLow) tags.emplace_back(Tags::ScaleLow, *c.ScaleLow);
    if (c.ScaleHigh) tags.emplace_back(Tags::ScaleHigh, *c.ScaleHigh);
    if (c.Default) tags.emplace_back(Tags::Default, *c.Default);
    if (c.DefaultX) tags.emplace_back(Tags::DefaultX, *c.DefaultX);
    if (c.DefaultY) tags.emplace_back(Tags::DefaultY, *c.DefaultY);
    if (c.DefaultText) tags.emplace_back(Tags::DefaultText, c.DefaultText);
    for (const ExtraTag& t : c.Extra) {
        switch (t.Is) {
            case ExtraTag::Kind::Number:
                if (TagIsDouble(t.Tag))
                    tags.emplace_back(t.Tag, t.Number);
                else
                    tags.emplace_back(t.Tag, int64_t(t.Number));
                break;
            case ExtraTag::Kind::Text:
                tags.emplace_back(t.Tag, t.Text);
                break;
            case ExtraTag::Kind::InputId:
                tags.emplace_back(t.Tag, inputById(uint32_t(t.Number)));
                break;
        }
    }
    return tags;
}

std::string NameResourceText() {
    std::string text;
    for (const Control& c : Table())
        if (c.HasValue()) AppendNameLine(text, c.Id, c.ResourceName());
    AppendNameLine(text, OutputId, OutputName);
    return text;
}

}  // namespace controls
