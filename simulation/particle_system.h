#pragma once
// The particle pool and its simulation: births, ageing, the step of every live
// particle, and emptying the pool. The pool is a ring: the live particles run
// from OldestIndex to NextIndex (exclusive), born in that order.
#include <cstdint>
#include <vector>

#include "simulation/particle.h"
#include "simulation/vec2d.h"

class Image;
class PassRunner;
class RandomSource;
struct FrameSettings;
struct StepSettings;

// The check boxes a birth depends on, as read for this birth.
struct BirthSwitches {
    bool UseBirthSpline = false;
    bool Scale = false;
};

class ParticleSystem {
public:
    ParticleSystem() = default;
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    // The i-th live particle, oldest first.
    Particle& Live(int32_t i) { return Particles[(OldestIndex + i) % PoolSize]; }
    const Particle& Live(int32_t i) const { return Particles[(OldestIndex + i) % PoolSize]; }

    // One new particle; `shape` (may be null) is copied for it. Takes fourteen
    // draws from `random`. A full ring retires its oldest particle at once.
    void Birth(const FrameSettings& f, BirthSwitches on, Image* shape, RandomSource& random);
    // Gives back the oldest particle's image and drops it from the ring.
    void RetireOldest();
    // Empties the pool and the owed births; images are given back only when the
    // particles own them (not those of loaded motion data).
    void Clear(bool particlesOwnImages);
    // Every live particle ages by `simStep`; those whose whole age reached
    // `lifetime` are retired. Returns how many were.
    int32_t Age(double simStep, double lifetime);
    // One step of every live particle, free or path-bound; a large free step
    // runs on the workers through `runner`, with the same result.
    void Step(const StepSettings& s, RandomSource& random, PassRunner& runner);

    // Keeps every live particle's state before the step about to run (in
    // Before, by pool slot) for motion blur; its age is the one before the
    // ageing of `simStep` that precedes the step.
    void KeepBefore(double simStep);

    Particle Particles[PoolSize];
    // The states kept by KeepBefore (or by playback), by pool slot; empty when
    // motion blur is off.
    std::vector<ParticleBefore> Before;
    int32_t LiveCount = 0, OldestIndex = 0, NextIndex = 0;
    // Births owed to later frames: the fraction of a birth carried over.
    double BirthAccumulator = 0.0;
    // The turbulence's time in field periods: it advances by TurbulenceSpeed per
    // frame of simulated time and starts again with an empty pool.
    double FlowTime = 0.0;
    // The attractors' pulls and the drifts (wind and turbulence) of a large
    // step, per live particle.
    std::vector<Vec2d> StepPulls, StepDrifts;
};
