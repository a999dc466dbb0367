#pragma once
// The turbulence: a smooth, divergence-free flow over the picture that changes
// with time. Its velocity is the curl of a scalar noise (a stream function), so
// it swirls without gathering or spreading the particles it carries.
//
// The noise is gradient noise on a square lattice in x and y, one lattice per
// whole unit of time, blended between two neighbouring times; the gradient at
// each lattice corner comes from an integer hash of the corner and the field's
// seed. The field is a pure function of its seed, the place and the time: it
// draws nothing from the tool's own generator and holds no state, so every
// thread computes the same value for a particle. Only +, -, *, / and whole-number
// conversions are used, so the result is the same on every processor.
#include <cstdint>

#include "simulation/vec2d.h"

class FlowField {
public:
    // The field of a tool whose generator starts at `toolSeed` (the flow's seed).
    explicit FlowField(uint32_t toolSeed = 1);

    // The velocity at p (picture heights) and time t (field periods) for swirls
    // about `scale` picture heights across, with a typical speed of 1; zero where
    // p or t is not finite or too far out for the lattice.
    Vec2d Velocity(const Vec2d& p, double t, double scale) const;

    uint32_t Seed() const { return Hashed; }

private:
    uint32_t Hashed;
};
