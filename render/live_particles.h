#pragma once
#include <algorithm>
#include <cstdint>

#include "simulation/particle.h"

// The live particles of a pool of PoolSize slots, oldest first: Count slots
// from the oldest one on, wrapping around the pool.
class LiveParticles {
public:
    // before, when given, holds each slot's earlier state (for motion blur).
    LiveParticles(const Particle* pool, int32_t oldest, int32_t count, const ParticleBefore* before = nullptr)
        : Pool(pool), Earlier(before), Oldest(oldest), Live(std::clamp(count, 0, int32_t(PoolSize))) {}
    int32_t Count() const { return Live; }
    // The i-th oldest live particle.
    const Particle& operator[](int32_t i) const { return Pool[(Oldest + i) % PoolSize]; }
    // Its earlier state, or null when none is kept.
    const ParticleBefore* Before(int32_t i) const { return Earlier ? &Earlier[(Oldest + i) % PoolSize] : nullptr; }

private:
    const Particle* Pool;
    const ParticleBefore* Earlier;
    int32_t Oldest, Live;
};
