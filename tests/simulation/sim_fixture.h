#pragma once
// A tool made through the test host, with every switch of the simulation off and
// its frame settings set by hand, so one behaviour can be looked at at a time.
#include <gtest/gtest.h>

#include "common/tool_harness.h"

class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ParticleOperator& op = *h.Op;
        op.ClearParticles();
        op.SimStep = 1.0;
        op.Lifetime = 100.0;
        op.Tumble = 0.0;
        op.GravityVector = Vec2d();
        op.Speed = 0.0;
        op.Spread = 0.0;
        op.SpeedVariance = 0.0;
        op.Orientation = 0.0;
        op.RotationSpeed = 0.0;
        op.RotationVariance = 0.0;
        op.StartingAngle = 0.0;
        op.GeneralSize = 1.0;
        op.SizeVariance = 0.0;
        op.AspectX = 1.25;
        op.AspectY = 1.0;
        for (auto& a : op.Attractors) a.AttractorEnabled = 0;
        for (auto& b : op.BounceLines) b.Enabled = 0;
        op.BankingEnabled = 0;
        op.PathBindingEnabled = 0;
        op.StrictModeEnabled = 0;
        op.UseBirthSpline = 0;
        op.ScaleEnabled = 0;
    }

    // Makes one live particle in slot 0 of an empty pool.
    Particle& OneParticle(Vec2d position, Vec2d velocity) {
        ParticleOperator& op = *h.Op;
        op.ClearParticles();
        op.OldestIndex = 0;
        op.NextIndex = 1;
        op.LiveCount = 1;
        Particle& p = op.Particles[0];
        p = Particle();
        p.Position = position;
        p.PreviousPosition = position;
        p.Velocity = velocity;
        return p;
    }

    // Number of draws taken from the tool's generator since `before`.
    int DrawsSince(uint32_t before) const {
        RandomSource r(before);
        for (int n = 0; n < 100000; ++n) {
            if (r.GetState() == h.Op->Random.GetState()) return n;
            r.Next();
        }
        return -1;
    }

    ToolHarness h;
};
