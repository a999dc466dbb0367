#pragma once
// The frame settings: every control value the simulation and the compositing
// need for one frame, with points in simulation units and the derived values
// (time step, field handling, gravity vector, bounce-line normals) worked out
// once per request. The operator refreshes its one value from the request's
// inputs; an input without a value this request keeps last request's value.
#include <cstdint>

#include "simulation/segment_path.h"
#include "simulation/vec2d.h"

class LookUpTable;
class PolyLine;

struct FrameSettings {
    struct Attractor {
        Vec2d Position;
        double Strength = 0.0;
    };
    struct BounceLine {
        double Elasticity = 1.0;
        double Roughness = 0.0;
        Vec2d Start, End, Normal;
    };

    // How particles are born: rate, place, launch, size and spin.
    struct Births {
        double Birthrate = 0;
        Vec2d StartPoint, EndPoint;  // the birth line
        double Speed = 0, Orientation = 0, Spread = 0, SpeedVariance = 0;
        double GeneralSize = 1, SizeVariance = 0;
        double StartingAngle = 0, RotationSpeed = 0, RotationVariance = 0;
        int32_t ApplyBirthImage = 0;
        // The birth polyline (valid during its request only, null without one)
        // and the path built from it, which keeps its last binding while the
        // polyline has fewer than two points.
        PolyLine* BirthPolyline = nullptr;
        SegmentPath BirthPath;
    };
    // How particles are drawn: the curves over age (valid during their request
    // only, null when the input has none) and their limits.
    struct Looks {
        double Merge = 0;
        LookUpTable* MergeLut = nullptr;
        LookUpTable* GrowLut = nullptr;
        double MaximumSize = 2;
        LookUpTable* BlurLut = nullptr;
        double MaximumBlur = 50;
        int32_t BlurQuality = 0;
        LookUpTable *RedLut = nullptr, *GreenLut = nullptr, *BlueLut = nullptr, *MorphLut = nullptr;
        int32_t HighQuality = 1;
    };
    // The frame ranges of the pre-roll, the recording, the playback and the
    // shape capture.
    struct Ranges {
        int32_t RollFrames = 0;
        int32_t RecordStartFrame = 0, RecordLastFrame = 100, LoadStartFrame = 0, LoadLastFrame = 100;
        double ImageStartFrame = 0, ImageLastFrame = 100;
        int32_t ShapeFrameCount = 101;
    };

    // lumets' own motion extension: motion blur over the shutter, and a flow field
    // (turbulence) plus wind added to each particle's velocity in the step.
    struct Motions {
        int32_t Blur = 0;              // MotionBlur: 0 off, 1 on
        double ShutterAngle = 180;     // degrees, 0..720
        int32_t ShutterOffset = 1;     // 0 start, 1 centre, 2 end of the frame
        int32_t Samples = 8;           // MotionBlurSamples, 1..64
        double Turbulence = 0;         // strength, 0 = off
        double TurbulenceScale = 0.25; // feature size in picture heights
        double TurbulenceSpeed = 0.02; // how fast the field evolves, per frame
        Vec2d Wind;                    // added to each particle's velocity per frame
    };

    Births Birth;
    Looks Look;
    Ranges Range;
    Motions Motion;

    // Time and space: the step, field handling, the picture's aspect and the
    // proxy scales of the shape source.
    double Lifetime = 0, SlowMotion = 0;
    double SimStep = 0;
    float FieldFactor = 1.0f;
    double AspectX = 1.0, AspectY = 1.0;
    double ProxyScaleX = 1.0, ProxyScaleY = 1.0;

    // Forces.
    double Gravity = 0, GravityAngle = 0;
    Vec2d GravityVector;
    double Tumble = 0;
    Attractor Attractors[2];
    BounceLine BounceLines[2];

    // Path binding: the polyline (valid during its request only), the path built
    // from it (kept while the polyline has fewer than two points) and the
    // deviation curve of strict mode.
    PolyLine* PathPolyline = nullptr;
    SegmentPath MotionPath;
    float PathSpeedVariance = 0;
    LookUpTable* StrictDeviationLut = nullptr;
    float MaximumDeviation = 1.0f;
};
