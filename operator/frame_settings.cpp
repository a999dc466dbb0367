// The frame settings read from a request's inputs into the operator's one
// FrameSettings value, with points turned into simulation units and the derived
// values (time step, field handling, gravity vector, bounce-line normals) worked
// out once per frame.
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
void SettleBounceLine(FrameSettings::BounceLine& line) {
    if (line.End.y == line.Start.y) line.End.y = line.Start.y + 1e-6;
    if (line.Start.x == line.End.x) line.End.x = line.Start.x + 1e-6;
    Vec2d n = line.End - line.Start;
    n.Perpendicular();
    n.Normalize();
    line.Normal = n;
}

}  // namespace

void ParticleOperator::RefreshScalarSettings(Request* req) {
    FrameSettings& f = Frame;
    // The scalar controls.
    f.RollFrames = TruncToInt(NumberOf(req, InRollFrames, f.RollFrames));
    f.Speed = NumberOf(req, InSpeed, f.Speed);
    f.Orientation = NumberOf(req, InOrientation, f.Orientation);
    f.Spread = NumberOf(req, InSpread, f.Spread);
    f.SpeedVariance = NumberOf(req, InSpeedVariance, f.SpeedVariance);
    f.Gravity = NumberOf(req, InGravity, f.Gravity);
    f.GravityAngle = NumberOf(req, InGravityAngle, f.GravityAngle);
    f.Lifetime = NumberOf(req, InLifetime, f.Lifetime);
    f.SlowMotion = NumberOf(req, InSlowMotion, f.SlowMotion);
    f.Tumble = NumberOf(req, InTumble, f.Tumble);
    f.BlurQuality = TruncToInt(NumberOf(req, InBlurQuality, f.BlurQuality));
    f.Birthrate = NumberOf(req, InBirthrate, f.Birthrate);
    f.StartingAngle = NumberOf(req, InStartingAngle, f.StartingAngle);
    f.RotationSpeed = NumberOf(req, InRotationSpeed, f.RotationSpeed);
    f.RotationVariance = NumberOf(req, InRotationVariance, f.RotationVariance);
    f.Merge = NumberOf(req, InMerge, f.Merge);
    f.ApplyBirthImage = TruncToInt(NumberOf(req, InApplyBirthImage, f.ApplyBirthImage));
    f.PathSpeedVariance = float(NumberOf(req, InPathSpeedVariance, f.PathSpeedVariance));
    f.HighQuality = (req && (req->Flags() & Request::FlagQuick)) ? 0 : 1;

    // Images: the background, the shape source and its proxy scales, and the
    // output copy.
    BackgroundImage = ImageOf(req, InImage);
    ShapeSource = ImageOf(req, InParticleImage);
    f.ProxyScaleX = 1.0;
    f.ProxyScaleY = 1.0;
    if (ShapeSource) {
        f.ProxyScaleX = ProxyScale(ShapeSource, Tags::FullWidth, ShapeSource->Width);
        f.ProxyScaleY = ProxyScale(ShapeSource, Tags::FullHeight, ShapeSource->Height);
    }
    OutputImage = BackgroundImage ? BackgroundImage->CopyOfImage() : nullptr;

    // Field images: half a frame per step, and half the lines.
    const bool field = BackgroundImage && BackgroundImage->ImageTags().GetLong(Tags::Field, -1) != -1;
    if (field) {
        f.SimStep = f.SlowMotion * 0.5;
        f.FieldFactor = 2.0f;
    } else {
        f.SimStep = f.SlowMotion;
        f.FieldFactor = 1.0f;
    }
}

void ParticleOperator::FinishFrameSettings(Request* req) {
    FrameSettings& f = Frame;
    // Simulation units: one unit is one image height.
    f.AspectX = 1.0;
    f.AspectY = 1.0 / double(f.FieldFactor);
    if (BackgroundImage) {
        f.AspectX = double(BackgroundImage->Width) / (double(BackgroundImage->Height) * double(f.FieldFactor));
        f.AspectY = BackgroundImage->AspectY / double(f.FieldFactor) / BackgroundImage->AspectX;
    }
    // An empty or aspect-less background would give no usable unit.
    if (!std::isfinite(f.AspectX)) f.AspectX = 1.0;
    if (!std::isfinite(f.AspectY)) f.AspectY = 1.0;

    f.StartPoint = PointOf(req, InStart, f.AspectX, f.AspectY, f.StartPoint);
    f.EndPoint = PointOf(req, InEnd, f.AspectX, f.AspectY, f.EndPoint);
    f.Attractors[0].Position = PointOf(req, InAttractor1, f.AspectX, f.AspectY, f.Attractors[0].Position);
    f.Attractors[0].Strength = NumberOf(req, InAttractor1Strength, f.Attractors[0].Strength * 1000.0) * 0.001;
    f.Attractors[1].Position = PointOf(req, InAttractor2, f.AspectX, f.AspectY, f.Attractors[1].Position);
    f.Attractors[1].Strength = NumberOf(req, InAttractor2Strength, f.Attractors[1].Strength * 1000.0) * 0.001;
    f.GeneralSize = NumberOf(req, InGeneralSize, f.GeneralSize);
    f.SizeVariance = NumberOf(req, InSizeVariance, f.SizeVariance);
    f.MergeLut = TableOf(req, InMergeSpline);
    f.GrowLut = TableOf(req, InGrowSpline);
    f.MaximumSize = NumberOf(req, InMaximumSize, f.MaximumSize);
    f.BlurLut = TableOf(req, InBlurSpline);
    f.MaximumBlur = NumberOf(req, InMaximumBlur, f.MaximumBlur);

    // Bounce lines.
    Input* const lineInputs[2][4] = {{InBounce1Elasticity, InBounce1Roughness, InBounce1Start, InBounce1End},
                                     {InBounce2Elasticity, InBounce2Roughness, InBounce2Start, InBounce2End}};
    for (int k = 0; k < 2; ++k) {
        FrameSettings::BounceLine& line = f.BounceLines[k];
        line.Elasticity = NumberOf(req, lineInputs[k][0], line.Elasticity);
        line.Roughness = NumberOf(req, lineInputs[k][1], line.Roughness);
        line.Start = PointOf(req, lineInputs[k][2], f.AspectX, f.AspectY, line.Start);
        line.End = PointOf(req, lineInputs[k][3], f.AspectX, f.AspectY, line.End);
        SettleBounceLine(line);
    }

    // Gravity; the angle turns into radians by the tool's 1/57.3.
    const double g = (f.GravityAngle + 90.0) * DegreesToRadians;
    f.GravityVector = Vec2d(f.Gravity * std::sin(g), f.Gravity * std::cos(g));

    // The six frame controls follow the composition's time extent; then their values.
    TimeExtent extent(-1e9, -1e9, -1e9);
    GetExtent(&extent);
    Input* const frameInputs[6] = {InRecordStartFrame, InRecordLastFrame, InLoadStartFrame,
                                   InLoadLastFrame,    InImageStartFrame, InImageLastFrame};
    for (Input* in : frameInputs) {
        if (in) in->SetAttrs({{Tags::RangeLow, extent.Start}, {Tags::RangeHigh, extent.End}});
    }
    f.RecordStartFrame = TruncToInt(NumberOf(req, InRecordStartFrame, f.RecordStartFrame));
    f.RecordLastFrame = TruncToInt(NumberOf(req, InRecordLastFrame, f.RecordLastFrame));
    f.LoadStartFrame = TruncToInt(NumberOf(req, InLoadStartFrame, f.LoadStartFrame));
    f.LoadLastFrame = TruncToInt(NumberOf(req, InLoadLastFrame, f.LoadLastFrame));
    f.ImageStartFrame = NumberOf(req, InImageStartFrame, f.ImageStartFrame);
    f.ImageLastFrame = NumberOf(req, InImageLastFrame, f.ImageLastFrame);
    const int32_t span = TruncToInt(f.ImageLastFrame - f.ImageStartFrame);
    f.ShapeFrameCount = span == INT32_MAX ? INT32_MAX : span + 1;

    // Paths keep their last binding while their polyline has fewer than two points.
    f.PathPolyline = PolyLineOf(req, InPathPolyline);
    f.BirthPolyline = PolyLineOf(req, InBirthSpline);
    if (f.PathPolyline && f.PathPolyline->GetCount(0) > 1) f.MotionPath.BuildFromPolyLine(f.PathPolyline);
    if (f.BirthPolyline && f.BirthPolyline->GetCount(0) > 1) f.BirthPath.BuildFromPolyLine(f.BirthPolyline);

    f.RedLut = TableOf(req, InRedSpline);
    f.GreenLut = TableOf(req, InGreenSpline);
    f.BlueLut = TableOf(req, InBlueSpline);
    f.MorphLut = TableOf(req, InColorMorph);
    f.StrictDeviationLut = TableOf(req, InStrictDeviation);
    f.MaximumDeviation = float(NumberOf(req, InMaximumDeviation, f.MaximumDeviation));
}
