// One simulation step over a full pool (19999 live particles): the free step with
// both attractors and both bounce lines on, the same with turbulence and wind,
// and the strict path-bound step.
// Reports the time per particle step.
#include <benchmark/benchmark.h>

#include <vector>

#include "tests/common/tool_harness.h"

namespace {

constexpr int Live = PoolSize - 1;

void SetLine(ParticleOperator& op, int k, Vec2d s, Vec2d q, double elasticity, double roughness) {
    op.BounceLineEnabled[k] = 1;
    FrameSettings::BounceLine& line = op.Frame.BounceLines[k];
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
    op.Frame.SimStep = 1.0;
    op.Frame.Lifetime = 1e9;
    op.Frame.AspectX = 1.25;
    op.Frame.AspectY = 1.0;
    op.Frame.Birth.StartPoint = Vec2d(0.1, 0.5);
    op.Frame.Birth.EndPoint = Vec2d(1.15, 0.5);
    op.Frame.Birth.Speed = 0.01;
    op.Frame.Birth.Spread = 1.0;
    op.Frame.Birth.SpeedVariance = 0.5;
    op.Frame.Tumble = 5.0;
    op.Frame.GravityVector = Vec2d(0.0, 0.2);
    op.Frame.Birth.RotationSpeed = 2.0;
    for (int i = 0; i < Live; ++i) op.BirthParticle();
}

// Runs StepParticles over the same starting pool in every iteration.
void RunSteps(benchmark::State& state, ParticleOperator& op) {
    const std::vector<Particle> start(op.Pool.Particles, op.Pool.Particles + PoolSize);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(start.begin(), start.end(), op.Pool.Particles);
        state.ResumeTiming();
        op.StepParticles();
        benchmark::DoNotOptimize(op.Pool.Particles[op.Pool.OldestIndex].Position);
    }
    state.SetItemsProcessed(state.iterations() * Live);
    state.counters["per_particle"] =
        benchmark::Counter(Live, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Both attractors, both bounce lines and banking on.
void AllModifiers(ParticleOperator& op) {
    op.AttractorEnabled[0] = 1;
    op.Frame.Attractors[0].Position = Vec2d(0.4, 0.3);
    op.Frame.Attractors[0].Strength = 0.002;
    op.AttractorEnabled[1] = 1;
    op.Frame.Attractors[1].Position = Vec2d(0.9, 0.7);
    op.Frame.Attractors[1].Strength = -0.001;
    SetLine(op, 0, {0.0, 0.52}, {1.25, 0.53}, 0.8, 0.3);
    SetLine(op, 1, {0.0, 0.48}, {1.25, 0.47}, 0.6, 0.0);
    op.BankingEnabled = 1;
}

void BM_FreeStepAllModifiers(benchmark::State& state) {
    ToolHarness h;
    ParticleOperator& op = *h.Op;
    FillPool(op);
    AllModifiers(op);
    RunSteps(state, op);
}

// The same step with turbulence and wind added.
void BM_FreeStepTurbulence(benchmark::State& state) {
    ToolHarness h;
    ParticleOperator& op = *h.Op;
    FillPool(op);
    AllModifiers(op);
    op.Frame.Motion.Turbulence = 0.01;
    op.Frame.Motion.TurbulenceScale = 0.2;
    op.Frame.Motion.TurbulenceSpeed = 0.05;
    op.Frame.Motion.Wind = Vec2d(0.002, -0.001);
    RunSteps(state, op);
}

void BM_PathBoundStrict(benchmark::State& state) {
    ToolHarness h;
    ParticleOperator& op = *h.Op;
    FillPool(op);
    PolyLine* line = new PolyLine(
        {PolyPoint{-0.3f, 0.2f}, PolyPoint{0.0f, -0.2f}, PolyPoint{0.2f, 0.1f}, PolyPoint{0.35f, -0.1f}}, false);
    LookUpTable* identity = new LookUpTable();
    op.Frame.PathPolyline = line;
    op.Frame.MotionPath.BuildFromPolyLine(line);
    op.Frame.StrictDeviationLut = identity;
    op.Frame.MaximumDeviation = 1.0f;
    op.Frame.PathSpeedVariance = 0.5f;
    op.Frame.Lifetime = 100.0;
    op.PathBindingEnabled = 1;
    op.StrictModeEnabled = 1;
    op.BankingEnabled = 1;
    for (int i = 0; i < Live; ++i) op.LiveParticle(i).Age = double(i % 100);
    RunSteps(state, op);
    op.Frame.PathPolyline = nullptr;
    op.Frame.StrictDeviationLut = nullptr;
    line->Recycle();
    identity->Recycle();
}

}  // namespace

BENCHMARK(BM_FreeStepAllModifiers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FreeStepTurbulence)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PathBoundStrict)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
