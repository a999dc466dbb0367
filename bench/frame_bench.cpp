// A whole frame: Process on a 1920 x 1080 background with 5000 live particles of
// a 32 x 32 shape, high-quality sampling, at 1 and 2 worker threads. The
// simulation is held still (SlowMotion 0), so every frame draws the same 5000
// particles and the time is that of one frame's work.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "host/operator.h"
#include "tests/common/tool_harness.h"

namespace {

constexpr int32_t LiveParticles = 5000;

Image* SoftDisc(int32_t n) {
    Image* img = new Image(n, n);
    const double c = (n - 1) * 0.5;
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const double d = std::hypot(x - c, y - c) / (n * 0.5);
            const uint32_t a = d >= 1.0 ? 0 : uint32_t(65535.0 * (1.0 - d));
            img->SetPixel(x, y, HostPixel{40000, uint32_t(20000 + 1000 * y), uint32_t(60000 - 900 * x), a});
        }
    return img;
}

// range(0): worker threads; range(1): request flags (2 = simulate only, which
// leaves out the compositing and so measures the frame's serial remainder).
void BM_Frame(benchmark::State& state) {
    SetWorkerThreads(int(state.range(0)));
    const uint32_t flags = uint32_t(state.range(1));
    ToolHarness h(1920, 1080, 32, 32);
    Image* shape = SoftDisc(32);
    h.SetImages(h.Background, shape);
    shape->Recycle();
    h.SetNumber(h.Op->InSlowMotion, 0.0);
    h.SetNumber(h.Op->InBirthrate, 0.0);
    h.SetNumber(h.Op->InLifetime, 100.0);
    h.SetNumber(h.Op->InMerge, 0.5);

    // Fill the pool directly: positions over the whole picture (simulation units:
    // x up to the aspect 1920/1080, y up to 1), random angles, sizes and ages.
    std::mt19937 rng(5);
    auto uni = [&](double lo, double hi) { return lo + (hi - lo) * (double(rng()) / 4294967296.0); };
    ParticleOperator* op = h.Op;
    for (int32_t i = 0; i < LiveParticles; ++i) {
        Particle& p = op->Particles[i];
        p = Particle{};
        p.Position = Vec2d(uni(0.0, 1920.0 / 1080.0), uni(0.0, 1.0));
        p.Angle = uni(0.0, 360.0);
        p.Size = uni(0.5, 1.5);
        p.Age = uni(0.0, 90.0);
        p.ShapeImage = h.Shape->CopyOfImage();
    }
    op->OldestIndex = 0;
    op->LiveCount = LiveParticles;
    op->NextIndex = LiveParticles;

    double t = 0;
    for (auto _ : state) {
        Image* out = h.Request_(t, flags);
        benchmark::DoNotOptimize(out);
        t += 1;
    }
    state.counters["live"] = double(op->LiveCount);
    SetWorkerThreads(0);
}

}  // namespace

BENCHMARK(BM_Frame)->Args({1, 0})->Args({2, 0})->Args({1, Request::FlagSimulateOnly})->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_MAIN();
