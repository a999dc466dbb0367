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

    int32_t RollFrames = 0;
    double Speed = 0, Orientation = 0, Spread = 0, SpeedVariance = 0, Gravity = 0, GravityAngle = 0;
    double Lifetime = 0, SlowMotion = 0, Tumble = 0;
    int32_t BlurQuality = 0;
    double Birthrate = 0, StartingAngle = 0, RotationSpeed = 0, RotationVariance = 0, Merge = 0;
    int32_t ApplyBirthImage = 0;
    float PathSpeedVariance = 0;
    int32_t HighQuality = 1;
    double ProxyScaleX = 1.0, ProxyScaleY = 1.0;
    double SimStep = 0;
    float FieldFactor = 1.0f;
    double AspectX = 1.0, AspectY = 1.0;
    Vec2d StartPoint, EndPoint, GravityVector;
    Attractor Attractors[2];
    BounceLine BounceLines[2];
    double GeneralSize = 1, SizeVariance = 0;
    double MaximumSize = 2;
    double MaximumBlur = 50;
    int32_t RecordStartFrame = 0, RecordLastFrame = 100, LoadStartFrame = 0, LoadLastFrame = 100;
    double ImageStartFrame = 0, ImageLastFrame = 100;
    int32_t ShapeFrameCount = 101;
    float MaximumDeviation = 1.0f;

    // The request's curves and polylines: valid during that request only (null
    // when the input has none).
    LookUpTable* MergeLut = nullptr;
    LookUpTable* GrowLut = nullptr;
    LookUpTable* BlurLut = nullptr;
    LookUpTable *RedLut = nullptr, *GreenLut = nullptr, *BlueLut = nullptr, *MorphLut = nullptr;
    LookUpTable* StrictDeviationLut = nullptr;
    PolyLine* PathPolyline = nullptr;
    PolyLine* BirthPolyline = nullptr;

    // The paths built from the polylines; each keeps its last binding while its
    // polyline has fewer than two points.
    SegmentPath MotionPath, BirthPath;
};
