// One simulation step over a full pool (19999 live particles): the free step with
// both attractors and both bounce lines on, and the strict path-bound step.
// Reports the time per particle step.
#include <benchmark/benchmark.h>

#include <vector>

#include "tests/common/tool_harness.h"

namespace {

constexpr int Live = PoolSize - 1;

void SetLine(BounceLine& line, Vec2d s, Vec2d q, double elasticity, double roughness) {
    line.Enabled = 1;
    line.Start = s;
    line.End = q;
    Vec2d n = q - s;
    n.Perpendicular();
    n.Normalize();
    line.Normal = n;
    line.Elasticity = elasticity;
    line.Roughness = roughness;
}

// A tool with a full pool born on a line across the image, moving in all directions.
void FillPool(ParticleOperator& op) {
    op.ClearParticles();
    op.SimStep = 1.0;
    op.Lifetime = 1e9;
    op.AspectX = 1.25;
    op.AspectY = 1.0;
    op.StartPoint = Vec2d(0.1, 0.5);
    op.EndPoint = Vec2d(1.15, 0.5);
    op.Speed = 0.01;
    op.Spread = 1.0;
    op.SpeedVariance = 0.5;
    op.Tumble = 5.0;
    op.GravityVector = Vec2d(0.0, 0.2);
    op.RotationSpeed = 2.0;
    for (int i = 0; i < Live; ++i) op.BirthParticle();
}

// Runs StepParticles over the same starting pool in every iteration.
void RunSteps(benchmark::State& state, ParticleOperator& op) {
    const std::vector<Particle> start(op.Particles, op.Particles + PoolSize);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(start.begin(), start.end(), op.Particles);
        state.ResumeTiming();
        op.StepParticles();
        benchmark::DoNotOptimize(op.Particles[op.OldestIndex].Position);
    }
    state.SetItemsProcessed(state.iterations() * Live);
    state.counters["per_particle"] =
        benchmark::Counter(Live, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_FreeStepAllModifiers(benchmark::State& state) {
    ToolHarness h;
    ParticleOperator& op = *h.Op;
    FillPool(op);
    op.Attractors[0].AttractorEnabled = 1;
    op.Attractors[0].Position = Vec2d(0.4, 0.3);
    op.Attractors[0].Strength = 0.002;
    op.Attractors[1].AttractorEnabled = 1;
    op.Attractors[1].Position = Vec2d(0.9, 0.7);
    op.Attractors[1].Strength = -0.001;
    SetLine(op.BounceLines[0], {0.0, 0.52}, {1.25, 0.53}, 0.8, 0.3);
    SetLine(op.BounceLines[1], {0.0, 0.48}, {1.25, 0.47}, 0.6, 0.0);
    op.BankingEnabled = 1;
    RunSteps(state, op);
}

void BM_PathBoundStrict(benchmark::State& state) {
    ToolHarness h;
    ParticleOperator& op = *h.Op;
    FillPool(op);
    PolyLine* line = new PolyLine(
        {PolyPoint{-0.3f, 0.2f}, PolyPoint{0.0f, -0.2f}, PolyPoint{0.2f, 0.1f}, PolyPoint{0.35f, -0.1f}}, false);
    LookUpTable* identity = new LookUpTable();
    op.PathPolyline = line;
    op.MotionPath.BuildFromPolyLine(line);
    op.StrictDeviationLut = identity;
    op.MaximumDeviation = 1.0f;
    op.PathSpeedVariance = 0.5f;
    op.Lifetime = 100.0;
    op.PathBindingEnabled = 1;
    op.StrictModeEnabled = 1;
    op.BankingEnabled = 1;
    for (int i = 0; i < Live; ++i) op.LiveParticle(i).Age = double(i % 100);
    RunSteps(state, op);
    op.PathPolyline = nullptr;
    op.StrictDeviationLut = nullptr;
    line->Recycle();
    identity->Recycle();
}

}  // namespace

BENCHMARK(BM_FreeStepAllModifiers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PathBoundStrict)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
