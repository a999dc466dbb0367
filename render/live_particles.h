#pragma once
#include <algorithm>
#include <cstdint>

#include "simulation/particle.h"

// The live particles of a pool of PoolSize slots, oldest first: Count slots
// from the oldest one on, wrapping around the pool.
class LiveParticles {
public:
    LiveParticles(const Particle* pool, int32_t oldest, int32_t count)
        : Pool(pool), Oldest(oldest), Live(std::clamp(count, 0, int32_t(PoolSize))) {}
    int32_t Count() const { return Live; }
    // The i-th oldest live particle.
    const Particle& operator[](int32_t i) const { return Pool[(Oldest + i) % PoolSize]; }

private:
    const Particle* Pool;
    int32_t Oldest, Live;
};
