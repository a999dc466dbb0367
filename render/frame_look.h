#pragma once
// The frame snapshot the compositing reads: everything a particle's drawing
// needs that is the same for the whole frame.
#include <cstdint>
#include <vector>

#include "host/image.h"
#include "render/shape_set.h"
#include "simulation/curve_lookup.h"

// Everything a particle's drawing reads that is the same for the whole frame.
struct FrameLook {
    Image* Out = nullptr;
    int32_t OutW = 0, OutH = 0, VOrigin = 0;
    double OutAx = 1.0, OutAy = 1.0;
    double AspectX = 1.0, AspectY = 1.0;
    double Lifetime = 0.0, MaximumSize = 0.0;
    double ProxyX = 1.0, ProxyY = 1.0;
    bool Fade = false, Grow = false, Tint = false, Blur = false;
    Curve Merge, GrowCurve, Red, Green, Blue, Morph, BlurCurve;
    double MaximumBlur = 0.0;
    int32_t BlurPasses = 3;
    uint32_t M = 0;
    unsigned Quality = 0;
    float Ax = 1.0f, Ay = 1.0f;
    // Captured levels (null when particles are drawn from host images) and
    // whether they are the reduced working set.
    const ShapeSet* Levels = nullptr;
    bool Working = false;
    // The one host image every particle is drawn from (the proxy copy or the
    // birth image); null when each particle uses its own ShapeImage.
    bool UseShared = false;
    const Image* Shared = nullptr;
    std::vector<uint16_t> SharedPixels;
    bool SharedReady = false;
    // Motion blur: MotionSamples sub-frame draws per particle (below 2 it is
    // off) at step fractions ShutterOpen .. ShutterClose, where 0 is the
    // particle's state before the step and 1 the state drawn without blur.
    int32_t MotionSamples = 0;
    double ShutterOpen = 1.0, ShutterClose = 1.0;
    // With Banking a particle's angle is its direction of motion, set anew each
    // step and meaningful only up to whole turns: the draws turn the short way
    // (179 to -179 degrees is 2 degrees, not 358). Without it the angle adds up
    // the particle's spin, which may exceed half a turn a step.
    bool AngleIsDirection = false;
};

