// The frame settings read from a request's inputs into the operator's one
// FrameSettings value, with points turned into simulation units and the derived
// values (time step, field handling, gravity vector, bounce-line normals) worked
// out once per frame.
#include <algorithm>
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
    f.Range.RollFrames = TruncToInt(NumberOf(req, InRollFrames, f.Range.RollFrames));
    f.Birth.Speed = NumberOf(req, InSpeed, f.Birth.Speed);
    f.Birth.Orientation = NumberOf(req, InOrientation, f.Birth.Orientation);
    f.Birth.Spread = NumberOf(req, InSpread, f.Birth.Spread);
    f.Birth.SpeedVariance = NumberOf(req, InSpeedVariance, f.Birth.SpeedVariance);
    f.Gravity = NumberOf(req, InGravity, f.Gravity);
    f.GravityAngle = NumberOf(req, InGravityAngle, f.GravityAngle);
    f.Lifetime = NumberOf(req, InLifetime, f.Lifetime);
    f.SlowMotion = NumberOf(req, InSlowMotion, f.SlowMotion);
    f.Tumble = NumberOf(req, InTumble, f.Tumble);
    f.Look.BlurQuality = TruncToInt(NumberOf(req, InBlurQuality, f.Look.BlurQuality));
    f.Birth.Birthrate = NumberOf(req, InBirthrate, f.Birth.Birthrate);
    f.Birth.StartingAngle = NumberOf(req, InStartingAngle, f.Birth.StartingAngle);
    f.Birth.RotationSpeed = NumberOf(req, InRotationSpeed, f.Birth.RotationSpeed);
    f.Birth.RotationVariance = NumberOf(req, InRotationVariance, f.Birth.RotationVariance);
    f.Look.Merge = NumberOf(req, InMerge, f.Look.Merge);
    f.Birth.ApplyBirthImage = TruncToInt(NumberOf(req, InApplyBirthImage, f.Birth.ApplyBirthImage));
    f.PathSpeedVariance = float(NumberOf(req, InPathSpeedVariance, f.PathSpeedVariance));
    f.Look.HighQuality = (req && (req->Flags() & Request::FlagQuick)) ? 0 : 1;

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

    f.Birth.StartPoint = PointOf(req, InStart, f.AspectX, f.AspectY, f.Birth.StartPoint);
    f.Birth.EndPoint = PointOf(req, InEnd, f.AspectX, f.AspectY, f.Birth.EndPoint);
    f.Attractors[0].Position = PointOf(req, InAttractor1, f.AspectX, f.AspectY, f.Attractors[0].Position);
    f.Attractors[0].Strength = NumberOf(req, InAttractor1Strength, f.Attractors[0].Strength * 1000.0) * 0.001;
    f.Attractors[1].Position = PointOf(req, InAttractor2, f.AspectX, f.AspectY, f.Attractors[1].Position);
    f.Attractors[1].Strength = NumberOf(req, InAttractor2Strength, f.Attractors[1].Strength * 1000.0) * 0.001;
    f.Birth.GeneralSize = NumberOf(req, InGeneralSize, f.Birth.GeneralSize);
    f.Birth.SizeVariance = NumberOf(req, InSizeVariance, f.Birth.SizeVariance);
    f.Look.MergeLut = TableOf(req, InMergeSpline);
    f.Look.GrowLut = TableOf(req, InGrowSpline);
    f.Look.MaximumSize = NumberOf(req, InMaximumSize, f.Look.MaximumSize);
    f.Look.BlurLut = TableOf(req, InBlurSpline);
    f.Look.MaximumBlur = NumberOf(req, InMaximumBlur, f.Look.MaximumBlur);

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
    f.Range.RecordStartFrame = TruncToInt(NumberOf(req, InRecordStartFrame, f.Range.RecordStartFrame));
    f.Range.RecordLastFrame = TruncToInt(NumberOf(req, InRecordLastFrame, f.Range.RecordLastFrame));
    f.Range.LoadStartFrame = TruncToInt(NumberOf(req, InLoadStartFrame, f.Range.LoadStartFrame));
    f.Range.LoadLastFrame = TruncToInt(NumberOf(req, InLoadLastFrame, f.Range.LoadLastFrame));
    f.Range.ImageStartFrame = NumberOf(req, InImageStartFrame, f.Range.ImageStartFrame);
    f.Range.ImageLastFrame = NumberOf(req, InImageLastFrame, f.Range.ImageLastFrame);
    const int32_t span = TruncToInt(f.Range.ImageLastFrame - f.Range.ImageStartFrame);
    f.Range.ShapeFrameCount = span == INT32_MAX ? INT32_MAX : span + 1;

    // Paths keep their last binding while their polyline has fewer than two points.
    f.PathPolyline = PolyLineOf(req, InPathPolyline);
    f.Birth.BirthPolyline = PolyLineOf(req, InBirthSpline);
    if (f.PathPolyline && f.PathPolyline->GetCount(0) > 1) f.MotionPath.BuildFromPolyLine(f.PathPolyline);
    if (f.Birth.BirthPolyline && f.Birth.BirthPolyline->GetCount(0) > 1) f.Birth.BirthPath.BuildFromPolyLine(f.Birth.BirthPolyline);

    f.Look.RedLut = TableOf(req, InRedSpline);
    f.Look.GreenLut = TableOf(req, InGreenSpline);
    f.Look.BlueLut = TableOf(req, InBlueSpline);
    f.Look.MorphLut = TableOf(req, InColorMorph);
    f.StrictDeviationLut = TableOf(req, InStrictDeviation);
    f.MaximumDeviation = float(NumberOf(req, InMaximumDeviation, f.MaximumDeviation));
    RefreshMotionSettings(req);
}

// lumets' own motion page. Values are held within the controls' ranges, and one
// that is not a finite number keeps the last one, so no flow can feed the step or
// the drawing a NaN, a zero feature size or an unbounded sample count.
void ParticleOperator::RefreshMotionSettings(Request* req) {
    FrameSettings::Motions& m = Frame.Motion;
    auto number = [&](Input* in, double last, double low, double high) {
        const double v = NumberOf(req, in, last);
        return std::isfinite(v) ? std::clamp(v, low, high) : last;
    };
    m.Blur = number(InMotionBlur, m.Blur, -1e9, 1e9) != 0.0 ? 1 : 0;
    m.ShutterAngle = number(InShutterAngle, m.ShutterAngle, 0.0, 720.0);
    m.ShutterOffset = TruncToInt(number(InShutterOffset, m.ShutterOffset, 0.0, 2.0));
    m.Samples = TruncToInt(number(InMotionBlurSamples, m.Samples, 1.0, 64.0));
    m.Turbulence = number(InTurbulence, m.Turbulence, 0.0, 1.0);
    m.TurbulenceScale = number(InTurbulenceScale, m.TurbulenceScale, 0.01, 10.0);
    m.TurbulenceSpeed = number(InTurbulenceSpeed, m.TurbulenceSpeed, 0.0, 10.0);
    if (Parameter* p = InputOf(req, InWind, DT_Point)) {
        const Point* w = static_cast<Point*>(p);
        if (std::isfinite(w->X) && std::isfinite(w->Y))
            m.Wind = Vec2d(std::clamp(w->X, -100.0, 100.0), std::clamp(w->Y, -100.0, 100.0));
    }
}
