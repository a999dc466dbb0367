#pragma once
// The particle pool on its own, with every switch of the simulation off and its
// frame settings set by hand, so one behaviour can be looked at at a time.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "host/image.h"
#include "simulation/frame_settings.h"
#include "simulation/particle_system.h"
#include "simulation/random_source.h"
#include "simulation/step_settings.h"
#include "simulation/worker_pass.h"

// Exact comparison of both components.
inline void ExpectVec(const Vec2d& got, double x, double y) {
    EXPECT_EQ(got.x, x);
    EXPECT_EQ(got.y, y);
}

// Exact comparison of (got, want) pairs; a failure names the pair's place in the list.
inline void ExpectPairs(std::initializer_list<std::pair<double, double>> pairs) {
    int i = 0;
    for (auto [got, want] : pairs) EXPECT_EQ(got, want) << "pair " << i++;
}

// Runs a pass's chunks one after the other, or each on a thread of its own.
struct TestRunner final : PassRunner {
    bool Threads = false;
    void RunPass(WorkerPass& pass, long chunks) override {
        if (!Threads) {
            for (long c = 0; c < chunks; ++c) pass.Run(c);
            return;
        }
        std::vector<std::thread> threads;
        for (long c = 0; c < chunks; ++c) threads.emplace_back([&pass, c] { pass.Run(c); });
        for (std::thread& t : threads) t.join();
    }
};

class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        f.SimStep = f.Birth.GeneralSize = f.AspectY = 1.0;
        f.Lifetime = 100.0;
        f.AspectX = 1.25;
    }
    void TearDown() override {
        pool->Clear(true);
        if (shape) shape->Recycle();
    }

    void Birth() { pool->Birth(f, births, shape, random); }
    void Step() { pool->Step(StepSettings::Take(f, on), random, runner); }
    int32_t Age() { return pool->Age(f.SimStep, f.Lifetime); }

    // Makes one live particle in slot 0 of an empty pool.
    Particle& OneParticle(Vec2d position, Vec2d velocity) {
        pool->Clear(true);
        pool->OldestIndex = 0;
        pool->NextIndex = pool->LiveCount = 1;
        Particle& p = pool->Particles[0];
        p = Particle();
        p.Position = p.PreviousPosition = position;
        p.Velocity = velocity;
        return p;
    }

    // Number of draws taken from the generator since `before`.
    int DrawsSince(uint32_t before) const {
        RandomSource r(before);
        for (int n = 0; n < 100000; ++n, r.Next())
            if (r.GetState() == random.GetState()) return n;
        return -1;
    }

    FrameSettings f;
    BirthSwitches births;
    StepSwitches on;
    RandomSource random{1};
    TestRunner runner;
    Image* shape = nullptr;  // copied for every birth; the fixture's own
    std::unique_ptr<ParticleSystem> pool = std::make_unique<ParticleSystem>();
};
