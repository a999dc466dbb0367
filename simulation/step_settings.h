#pragma once
// The values one simulation step reads, taken once per step from the frame
// settings and the check boxes: the check boxes are read a single time (the
// interface side may change them meanwhile), the values the particle loops
// share are worked out once, and the loops work on plain values.
#include <cstdint>

#include "simulation/flow_field.h"
#include "simulation/vec2d.h"

class LookUpTable;
class RandomSource;
class SegmentPath;
struct FrameSettings;
struct Particle;

// The check boxes a step depends on, as read for this step.
struct StepSwitches {
    bool Attractor[2] = {false, false};
    bool BounceLine[2] = {false, false};
    bool Banking = false;
    bool PathBinding = false;
    bool Strict = false;
};

struct StepSettings {
    struct Line {
        bool Enabled = false;
        Vec2d Start, End, Normal;
        double Slope = 0.0;  // -(End.x - Start.x) / (End.y - Start.y)
        double Elasticity = 1.0, Roughness = 0.0;
    };

    bool AttractorOn[2] = {false, false};
    Vec2d AttractorPosition[2];
    double AttractorStrength[2] = {0.0, 0.0};
    Line Lines[2];
    double Tumble = 0.0;
    Vec2d GravityStep;  // GravityVector / 100
    double SimStep = 0.0;
    bool Banking = false;
    double StartingAngle = 0.0;

    bool PathBinding = false;
    bool Strict = false;
    int32_t PathPointCount = 0;  // points of the path polyline (0 without one)
    double Lifetime = 0.0;
    float PathSpeedVariance = 0.0f;
    const LookUpTable* Deviation = nullptr;
    bool DeviationIsIdentity = false;
    float MaximumDeviation = 0.0f;
    double AspectX = 1.0, AspectY = 1.0;
    const SegmentPath* Path = nullptr;

    // The drift of the free step: wind plus the turbulence sampled at the
    // particle, added to its velocity for its move. Off (and the step exactly as
    // without it) when both are zero.
    bool Drifting = false;
    Vec2d Wind;
    double Turbulence = 0.0, TurbulenceScale = 1.0;
    double TurbulenceSpeed = 0.0;  // field periods per frame
    FlowField Flow;

    // `flowSeed` is the tool's starting seed, which the turbulence is made from.
    static StepSettings Take(const FrameSettings& f, const StepSwitches& on, uint32_t flowSeed = 1);
};

// One free step of a particle: forces, jitter, gravity, bounce lines, rotation.
// `flowTime` is the turbulence's time (field periods) at the start of the step.
void FreeStepWith(const StepSettings& s, RandomSource& random, Particle& p, double flowTime = 0.0);
// One path-bound step of a particle along the motion path.
void PathBoundStepWith(const StepSettings& s, Particle& p);
