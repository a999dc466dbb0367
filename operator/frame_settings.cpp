// The frame settings: every control value the simulation and the compositing
// need, copied into the operator at the start of each request, with points turned
// into simulation units and the derived values (time step, field handling,
// gravity vector, bounce-line normals) worked out once per frame.
#include <cmath>
#include <cstdint>

#include "host/image.h"
#include "host/operator.h"
#include "host/parameters.h"
#include "host/tags.h"
#include "operator/particle_operator.h"

namespace {

constexpr double DegreesToRadians = 0.017452006980802792;  // 1 / 57.3, the tool's own

// Float to int32, cutting toward zero; values beyond the int32 range are held at
// its ends and a value that is not a number gives 0.
int32_t TruncToInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return int32_t(v);
}

// The request's parameter of an input when it has the expected type.
Parameter* InputOf(Request* req, Input* in, uint32_t type) {
    if (!req || !in) return nullptr;
    Parameter* p = req->GetInputData(in, 0);
    return p && p->DataType == type ? p : nullptr;
}

double NumberOf(Request* req, Input* in, double fallback) {
    Parameter* p = InputOf(req, in, DT_Number);
    return p ? static_cast<Number*>(p)->Value : fallback;
}

// A point parameter in simulation units.
Vec2d PointOf(Request* req, Input* in, double aspectX, double aspectY, const Vec2d& fallback) {
    Parameter* p = InputOf(req, in, DT_Point);
    if (!p) return fallback;
    const Point* pt = static_cast<Point*>(p);
    return {pt->X * aspectX, pt->Y * aspectY};
}

Image* ImageOf(Request* req, Input* in) { return static_cast<Image*>(InputOf(req, in, DT_Image)); }

LookUpTable* TableOf(Request* req, Input* in) {
    return static_cast<LookUpTable*>(InputOf(req, in, DT_LookUpTable));
}

PolyLine* PolyLineOf(Request* req, Input* in) { return static_cast<PolyLine*>(InputOf(req, in, DT_PolyLine)); }

// Width (or height) over the full-size value the image's attribute list gives,
// read as an unsigned 32-bit number; 1.0 without the tag or with a full size of 0.
double ProxyScale(const Image* img, uint32_t tag, int32_t size) {
    const uint32_t full = uint32_t(img->ImageTags().GetLong(tag, size));
    if (full == 0) return 1.0;
    return double(size) / double(full);
}

// Nudges a bounce line off the horizontal and the vertical (exact comparisons)
// and gives it its unit normal.
void SettleBounceLine(BounceLine& line) {
    if (line.End.y == line.Start.y) line.End.y = line.Start.y + 1e-6;
    if (line.Start.x == line.End.x) line.End.x = line.Start.x + 1e-6;
    Vec2d n = line.End - line.Start;
    n.Perpendicular();
    n.Normalize();
    line.Normal = n;
}

}  // namespace

void ParticleOperator::RefreshScalarSettings(Request* req) {
    // Rows 1 to 18: scalar controls.
    RollFrames = TruncToInt(NumberOf(req, InRollFrames, RollFrames));
    Speed = NumberOf(req, InSpeed, Speed);
    Orientation = NumberOf(req, InOrientation, Orientation);
    Spread = NumberOf(req, InSpread, Spread);
    SpeedVariance = NumberOf(req, InSpeedVariance, SpeedVariance);
    Gravity = NumberOf(req, InGravity, Gravity);
    GravityAngle = NumberOf(req, InGravityAngle, GravityAngle);
    Lifetime = NumberOf(req, InLifetime, Lifetime);
    SlowMotion = NumberOf(req, InSlowMotion, SlowMotion);
    Tumble = NumberOf(req, InTumble, Tumble);
    BlurQuality = TruncToInt(NumberOf(req, InBlurQuality, BlurQuality));
    Birthrate = NumberOf(req, InBirthrate, Birthrate);
    StartingAngle = NumberOf(req, InStartingAngle, StartingAngle);
    RotationSpeed = NumberOf(req, InRotationSpeed, RotationSpeed);
    RotationVariance = NumberOf(req, InRotationVariance, RotationVariance);
    Merge = NumberOf(req, InMerge, Merge);
    ApplyBirthImage = TruncToInt(NumberOf(req, InApplyBirthImage, ApplyBirthImage));
    PathSpeedVariance = float(NumberOf(req, InPathSpeedVariance, PathSpeedVariance));
    HighQuality = (req && (req->Flags() & 1u)) ? 0 : 1;

    // Images: the background, the shape source and its proxy scales, and the
    // output copy.
    BackgroundImage = ImageOf(req, InImage);
    ShapeSource = ImageOf(req, InParticleImage);
    ProxyScaleX = 1.0;
    ProxyScaleY = 1.0;
    if (ShapeSource) {
        ProxyScaleX = ProxyScale(ShapeSource, Tags::FullWidth, ShapeSource->Width);
        ProxyScaleY = ProxyScale(ShapeSource, Tags::FullHeight, ShapeSource->Height);
    }
    OutputImage = BackgroundImage ? BackgroundImage->CopyOfImage() : nullptr;

    // Field images: half a frame per step, and half the lines.
    const bool field = BackgroundImage && BackgroundImage->ImageTags().GetLong(Tags::Field, -1) != -1;
    if (field) {
        SimStep = SlowMotion * 0.5;
        FieldFactor = 2.0f;
    } else {
        SimStep = SlowMotion;
        FieldFactor = 1.0f;
    }
}

void ParticleOperator::FinishFrameSettings(Request* req) {
    // Simulation units: one unit is one image height.
    AspectX = 1.0;
    AspectY = 1.0 / double(FieldFactor);
    if (BackgroundImage) {
        AspectX = double(BackgroundImage->Width) / (double(BackgroundImage->Height) * double(FieldFactor));
        AspectY = BackgroundImage->AspectY / double(FieldFactor) / BackgroundImage->AspectX;
    }
    // An empty or aspect-less background would give no usable unit.
    if (!std::isfinite(AspectX)) AspectX = 1.0;
    if (!std::isfinite(AspectY)) AspectY = 1.0;

    StartPoint = PointOf(req, InStart, AspectX, AspectY, StartPoint);
    EndPoint = PointOf(req, InEnd, AspectX, AspectY, EndPoint);
    Attractors[0].Position = PointOf(req, InAttractor1, AspectX, AspectY, Attractors[0].Position);
    Attractors[0].Strength = NumberOf(req, InAttractor1Strength, Attractors[0].Strength * 1000.0) * 0.001;
    Attractors[1].Position = PointOf(req, InAttractor2, AspectX, AspectY, Attractors[1].Position);
    Attractors[1].Strength = NumberOf(req, InAttractor2Strength, Attractors[1].Strength * 1000.0) * 0.001;
    GeneralSize = NumberOf(req, InGeneralSize, GeneralSize);
    SizeVariance = NumberOf(req, InSizeVariance, SizeVariance);
    MergeLut = TableOf(req, InMergeSpline);
    GrowLut = TableOf(req, InGrowSpline);
    MaximumSize = NumberOf(req, InMaximumSize, MaximumSize);
    BlurLut = TableOf(req, InBlurSpline);
    MaximumBlur = NumberOf(req, InMaximumBlur, MaximumBlur);

    // Bounce lines.
    Input* const lineInputs[2][4] = {{InBounce1Elasticity, InBounce1Roughness, InBounce1Start, InBounce1End},
                                     {InBounce2Elasticity, InBounce2Roughness, InBounce2Start, InBounce2End}};
    for (int k = 0; k < 2; ++k) {
        BounceLine& line = BounceLines[k];
        line.Elasticity = NumberOf(req, lineInputs[k][0], line.Elasticity);
        line.Roughness = NumberOf(req, lineInputs[k][1], line.Roughness);
        line.Start = PointOf(req, lineInputs[k][2], AspectX, AspectY, line.Start);
        line.End = PointOf(req, lineInputs[k][3], AspectX, AspectY, line.End);
        SettleBounceLine(line);
    }

    // Gravity; the angle turns into radians by the tool's 1/57.3.
    const double g = (GravityAngle + 90.0) * DegreesToRadians;
    GravityVector = Vec2d(Gravity * std::sin(g), Gravity * std::cos(g));

    // The six frame controls follow the composition's time extent; then their values.
    TimeExtent extent(-1e9, -1e9, -1e9);
    GetExtent(&extent);
    Input* const frameInputs[6] = {InRecordStartFrame, InRecordLastFrame, InLoadStartFrame,
                                   InLoadLastFrame,    InImageStartFrame, InImageLastFrame};
    for (Input* in : frameInputs) {
        if (in) in->SetAttrs({{Tags::RangeLow, extent.Start}, {Tags::RangeHigh, extent.End}});
    }
    RecordStartFrame = TruncToInt(NumberOf(req, InRecordStartFrame, RecordStartFrame));
    RecordLastFrame = TruncToInt(NumberOf(req, InRecordLastFrame, RecordLastFrame));
    LoadStartFrame = TruncToInt(NumberOf(req, InLoadStartFrame, LoadStartFrame));
    LoadLastFrame = TruncToInt(NumberOf(req, InLoadLastFrame, LoadLastFrame));
    ImageStartFrame = NumberOf(req, InImageStartFrame, ImageStartFrame);
    ImageLastFrame = NumberOf(req, InImageLastFrame, ImageLastFrame);
    const int32_t span = TruncToInt(ImageLastFrame - ImageStartFrame);
    ShapeFrameCount = span == INT32_MAX ? INT32_MAX : span + 1;

    // Paths keep their last binding while their polyline has fewer than two points.
    PathPolyline = PolyLineOf(req, InPathPolyline);
    BirthPolyline = PolyLineOf(req, InBirthSpline);
    if (PathPolyline && PathPolyline->GetCount(0) > 1) MotionPath.BuildFromPolyLine(PathPolyline);
    if (BirthPolyline && BirthPolyline->GetCount(0) > 1) BirthPath.BuildFromPolyLine(BirthPolyline);

    RedLut = TableOf(req, InRedSpline);
    GreenLut = TableOf(req, InGreenSpline);
    BlueLut = TableOf(req, InBlueSpline);
    MorphLut = TableOf(req, InColorMorph);
    StrictDeviationLut = TableOf(req, InStrictDeviation);
    MaximumDeviation = float(NumberOf(req, InMaximumDeviation, MaximumDeviation));
}
