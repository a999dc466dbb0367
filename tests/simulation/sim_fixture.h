#pragma once
// A tool made through the test host, with every switch of the simulation off and
// its frame settings set by hand, so one behaviour can be looked at at a time.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "common/tool_harness.h"

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

class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ParticleOperator& op = *h.Op;
        op.ClearParticles();
        op.SimStep = op.GeneralSize = op.AspectY = 1.0;
        op.Lifetime = 100.0;
        op.AspectX = 1.25;
        op.Tumble = op.Speed = op.Spread = op.SpeedVariance = op.SizeVariance = 0.0;
        op.Orientation = op.RotationSpeed = op.RotationVariance = op.StartingAngle = 0.0;
        op.GravityVector = Vec2d();
        for (auto& a : op.Attractors) a.AttractorEnabled = 0;
        for (auto& b : op.BounceLines) b.Enabled = 0;
        op.BankingEnabled = op.PathBindingEnabled = op.StrictModeEnabled = 0;
        op.UseBirthSpline = op.ScaleEnabled = 0;
    }

    // Makes one live particle in slot 0 of an empty pool.
    Particle& OneParticle(Vec2d position, Vec2d velocity) {
        ParticleOperator& op = *h.Op;
        op.ClearParticles();
        op.OldestIndex = 0;
        op.NextIndex = op.LiveCount = 1;
        Particle& p = op.Particles[0];
        p = Particle();
        p.Position = p.PreviousPosition = position;
        p.Velocity = velocity;
        return p;
    }

    // Number of draws taken from the tool's generator since `before`.
    int DrawsSince(uint32_t before) const {
        RandomSource r(before);
        for (int n = 0; n < 100000; ++n, r.Next())
            if (r.GetState() == h.Op->Random.GetState()) return n;
        return -1;
    }

    ToolHarness h;
};
