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

constexpr int PoolSize = 20000;
