#pragma once
#include "simulation/vec2d.h"

class Image;

// One particle of the pool.
struct Particle {
    Vec2d Position;
    Vec2d PreviousPosition;
    Vec2d Velocity;
    double Angle = 0.0;
    double RotationSpeed = 0.0;
    double Age = 0.0;
    Image* ShapeImage = nullptr;  // owned; null for particles of loaded motion data
    double Size = 1.0;
    double DeviationFactor = 0.0;
    double PathAgeOffset = 0.0;
    double PathSpeedFactor = 0.0;
};

// A particle's state before the frame's step (or, in playback, one frame
// earlier), kept for drawing it over the shutter with motion blur on.
struct ParticleBefore {
    Vec2d Position;
    double Angle = 0.0, Age = 0.0, Size = 1.0;
};

// The pool has 20000 slots. Only the fuzz build of the saved-block reader sets a
// small pool (LUMETS_POOL_SIZE), since making a 20000-slot tool for every input
// would take most of its time; that tool's code is otherwise the same.
#ifdef LUMETS_POOL_SIZE
constexpr int PoolSize = LUMETS_POOL_SIZE;
#else
constexpr int PoolSize = 20000;
#endif
