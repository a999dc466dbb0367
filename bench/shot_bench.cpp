// Whole frames of production size: Process on a 1920 x 1080 background with a
// pool of live particles drawn from a soft round shape of 32, 128 or 256 pixels
// at about 0.3, 1 and 2 times its size, in high quality and quick sampling, at 1
// and 2 worker threads; and beside it a peer, cairo (8-bit, one thread), drawing
// the same sprites at the same positions, angles and sizes with its FAST
// (nearest) and GOOD filters. bench/run prints the table and the ratios.
//
// Rows: BM_Shot/source/scale%/quick/threads/count,
//       BM_ShotPair/source/scale%/quick/count (1 and 2 threads in pairs of
//       frames, for the speed-up) and
//       BM_Cairo/source/scale%/filter/count (filter 0 FAST, 1 GOOD).
// BM_ShotBlur/source/scale%/quick/threads/count/sigma/quality is the BM_Shot
// frame with every particle blurred at sigma pixels (blur on, a flat "Blur
// Spline" at its top, "Maximum Blur" 10 sigma) in that many box passes; its
// cost is read against the BM_Shot row of the same first five values.
// A scale of 0 stands for the mixed sizes of the 5000-particle frame (0.5 to 2).
// The particles hold still (SlowMotion 0), so every iteration draws the same frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#ifdef LUMETS_BENCH_CAIRO
#include <cairo.h>
#endif

#include "host/operator.h"
#include "tests/common/tool_harness.h"

namespace {

constexpr int32_t Width = 1920, Height = 1080;

// The shape's colour and alpha at (x, y): a disc that fades to its rim, with
// a colour ramp so that rotation and sampling show.
HostPixel DiscPixel(int32_t n, int32_t x, int32_t y) {
    const double c = (n - 1) * 0.5;
    const double d = std::hypot(x - c, y - c) / (n * 0.5);
    const uint32_t a = d >= 1.0 ? 0 : uint32_t(65535.0 * (1.0 - d));
    return HostPixel{40000, uint32_t(20000 + (30000 * y) / n), uint32_t(60000 - (40000 * x) / n), a};
}

// The particles of a row: positions over the whole picture, random angles, sizes
// around the scale (or 0.5 to 2 for scale 0), ages over a lifetime of 100.
struct Sprite {
    double X, Y, Angle, Size, Age;
};
std::vector<Sprite> MakeSprites(int32_t count, double scale) {
    std::mt19937 rng(5);
    auto uni = [&](double lo, double hi) { return lo + (hi - lo) * (double(rng()) / 4294967296.0); };
    std::vector<Sprite> sprites(static_cast<std::size_t>(count));
    for (Sprite& s : sprites) {
        s.X = uni(0.0, double(Width) / Height);
        s.Y = uni(0.0, 1.0);
        s.Angle = uni(0.0, 360.0);
        s.Size = scale == 0.0 ? uni(0.5, 2.0) : scale * uni(0.9, 1.1);
        s.Age = uni(0.0, 90.0);
    }
    return sprites;
}

// The tool set up for a row: the shape, the settings and count particles,
// each holding its own copy of the shape, as born particles do.
struct ShotScene {
    ToolHarness H;
    ShotScene(int32_t n, double scale, int32_t count, double sigma, int32_t quality) : H(Width, Height, n, n) {
        Image* shape = new Image(n, n);
        for (int32_t y = 0; y < n; ++y)
            for (int32_t x = 0; x < n; ++x) shape->SetPixel(x, y, DiscPixel(n, x, y));
        H.SetImages(H.Background, shape);
        shape->Recycle();
        H.SetNumber(H.Op->ControlInput("SlowMotion"), 0.0);
        H.SetNumber(H.Op->ControlInput("Birthrate"), 0.0);
        H.SetNumber(H.Op->ControlInput("Lifetime"), 100.0);
        H.SetNumber(H.Op->ControlInput("Merge"), 0.5);
        if (sigma > 0.0) {
            H.SetNumber(H.Op->ControlInput("EnableBlur"), 1.0);
            H.Set(H.Op->ControlInput("BlurSpline"), new LookUpTable(std::vector<uint16_t>(16, 65535)));
            H.SetNumber(H.Op->ControlInput("MaximumBlur"), sigma * 10.0);
            H.SetNumber(H.Op->ControlInput("BlurQuality"), quality);
        }
        ParticleOperator* op = H.Op;
        const std::vector<Sprite> sprites = MakeSprites(count, scale);
        for (int32_t i = 0; i < count; ++i) {
            Particle& p = op->Pool.Particles[i];
            p = Particle{};
            const Sprite& s = sprites[std::size_t(i)];
            p.Position = Vec2d(s.X, s.Y);
            p.Angle = s.Angle;
            p.Size = s.Size;
            p.Age = s.Age;
            p.ShapeImage = H.Shape->CopyOfImage();
        }
        op->Pool.OldestIndex = 0;
        op->Pool.LiveCount = count;
        op->Pool.NextIndex = count % PoolSize;
    }
};

void ShotFrame(benchmark::State& state, double sigma, int32_t quality) {
    const uint32_t flags = state.range(2) ? 1u : 0u;
    SetWorkerThreads(int(state.range(3)));
    ShotScene scene(int32_t(state.range(0)), double(state.range(1)) / 100.0, int32_t(state.range(4)), sigma, quality);
    double t = 0;
    for (auto _ : state) {
        Image* out = scene.H.Request_(t, flags);
        benchmark::DoNotOptimize(out);
        t += 1;
    }
    state.counters["live"] = double(scene.H.Op->Pool.LiveCount);
    SetWorkerThreads(0);
}

// The 2-thread speed-up of a row: frames drawn in pairs, one on 1 thread and
// one on 2, back to back (which comes first alternates), so that the machine's
// drift over seconds does not enter a pair's ratio. Reports the best frame of
// each thread count (one, two, in ms) and the median of the pairs' ratios (x2).
void BM_ShotPair(benchmark::State& state) {
    const uint32_t flags = state.range(2) ? 1u : 0u;
    ShotScene scene(int32_t(state.range(0)), double(state.range(1)) / 100.0, int32_t(state.range(3)), 0.0, 0);
    auto frameMs = [&](int threads, double t) {
        SetWorkerThreads(threads);
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(scene.H.Request_(t, flags));
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    constexpr int Pairs = 7;
    std::vector<double> one, two, ratios;
    double t = 0;
    for (auto _ : state) {
        frameMs(2, t++);  // the first frame of a tool makes what it keeps between frames
        for (int k = 0; k < Pairs; ++k) {
            const bool oneFirst = k % 2 == 0;
            const double a = frameMs(oneFirst ? 1 : 2, t++);
            const double b = frameMs(oneFirst ? 2 : 1, t++);
            one.push_back(oneFirst ? a : b);
            two.push_back(oneFirst ? b : a);
            ratios.push_back(one.back() / two.back());
        }
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["one"] = *std::min_element(one.begin(), one.end());
    state.counters["two"] = *std::min_element(two.begin(), two.end());
    state.counters["x2"] = ratios[ratios.size() / 2];
    state.counters["live"] = double(scene.H.Op->Pool.LiveCount);
    SetWorkerThreads(0);
}

// Motion blur against the unblurred frame on the same moving particles: one
// scene whose particles move about 8 output pixels per frame in random
// directions, its frames drawn in pairs, one with motion blur (8 draws over a
// 180-degree shutter) and one without, back to back (which comes first
// alternates), on 2 threads. Reports the best frame of each (off, on, in ms)
// and the median of the pairs' ratios (ratio).
void BM_ShotMotionPair(benchmark::State& state) {
    const uint32_t flags = state.range(2) ? 1u : 0u;
    ShotScene scene(int32_t(state.range(0)), double(state.range(1)) / 100.0, int32_t(state.range(3)), 0.0, 0);
    ToolHarness& H = scene.H;
    H.SetNumber(H.Op->ControlInput("SlowMotion"), 1.0);
    H.SetNumber(H.Op->ControlInput("Lifetime"), 1e6);
    H.SetNumber(H.Op->ControlInput("MotionBlurSamples"), 8.0);
    H.SetNumber(H.Op->ControlInput("ShutterAngle"), 180.0);
    std::mt19937 rng(7);
    for (int32_t i = 0; i < H.Op->Pool.LiveCount; ++i) {
        const double a = double(rng()) / 4294967296.0 * 6.283185307179586;
        H.Op->Pool.Particles[i].Velocity = Vec2d(std::cos(a), std::sin(a)) * (8.0 / Height);
    }
    SetWorkerThreads(2);
    auto frameMs = [&](bool blur, double t) {
        H.SetNumber(H.Op->ControlInput("MotionBlur"), blur ? 1.0 : 0.0);
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(H.Request_(t, flags));
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    constexpr int Pairs = 5;
    std::vector<double> off, on, ratios;
    double t = 0;
    for (auto _ : state) {
        frameMs(true, t++);  // the first frames make what the tool keeps between frames
        frameMs(false, t++);
        for (int k = 0; k < Pairs; ++k) {
            const bool offFirst = k % 2 == 0;
            const double a = frameMs(!offFirst, t++);
            const double b = frameMs(offFirst, t++);
            off.push_back(offFirst ? a : b);
            on.push_back(offFirst ? b : a);
            ratios.push_back(on.back() / off.back());
        }
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["off"] = *std::min_element(off.begin(), off.end());
    state.counters["on"] = *std::min_element(on.begin(), on.end());
    state.counters["ratio"] = ratios[ratios.size() / 2];
    state.counters["live"] = double(H.Op->Pool.LiveCount);
    SetWorkerThreads(0);
}

void BM_Shot(benchmark::State& state) { ShotFrame(state, 0.0, 0); }
void BM_ShotBlur(benchmark::State& state) { ShotFrame(state, double(state.range(5)), int32_t(state.range(6))); }

#ifdef LUMETS_BENCH_CAIRO
void BM_Cairo(benchmark::State& state) {
    const int32_t n = int32_t(state.range(0));
    const double scale = double(state.range(1)) / 100.0;
    const cairo_filter_t filter = state.range(2) ? CAIRO_FILTER_GOOD : CAIRO_FILTER_FAST;
    const int32_t count = int32_t(state.range(3));

    // The same shape, premultiplied as cairo keeps it.
    cairo_surface_t* sprite = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, n, n);
    unsigned char* data = cairo_image_surface_get_data(sprite);
    const int stride = cairo_image_surface_get_stride(sprite);
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const HostPixel p = DiscPixel(n, x, y);
            const uint32_t a = p.A >> 8;
            const uint32_t r = (p.R >> 8) * a / 255, g = (p.G >> 8) * a / 255, b = (p.B >> 8) * a / 255;
            reinterpret_cast<uint32_t*>(data + y * stride)[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    cairo_surface_mark_dirty(sprite);
    cairo_surface_t* frame = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, Width, Height);
    const std::vector<Sprite> sprites = MakeSprites(count, scale);

    for (auto _ : state) {
        cairo_t* cr = cairo_create(frame);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_paint(cr);
        for (const Sprite& s : sprites) {
            const double w = n * s.Size;
            cairo_save(cr);
            cairo_translate(cr, s.X * Height, s.Y * Height);
            // A positive angle turns the particle counter-clockwise on screen.
            cairo_rotate(cr, -s.Angle * M_PI / 180.0);
            cairo_scale(cr, w / n, w / n);
            cairo_translate(cr, -n * 0.5, -n * 0.5);
            cairo_set_source_surface(cr, sprite, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr), filter);
            cairo_paint(cr);
            cairo_restore(cr);
        }
        cairo_destroy(cr);
        cairo_surface_flush(frame);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(frame));
    }
    // The same counter as the tool's rows: the CSV reporter stops the program
    // when a row lacks a counter that an earlier row had (with shuffled rows,
    // which comes first varies from run to run).
    state.counters["live"] = double(count);
    cairo_surface_destroy(frame);
    cairo_surface_destroy(sprite);
}
#endif

// The particle count of a row: 20000, or fewer where the sprites are drawn so
// large that 20000 of them would cover the frame thousands of times over (the
// count then keeps the drawn pixels at those of 20000 sprites of 80 pixels).
int64_t CountFor(int64_t n, int64_t scalePercent) {
    const double drawn = double(n) * double(scalePercent) / 100.0;
    if (drawn <= 80.0) return 20000;
    return int64_t(20000.0 * (80.0 / drawn) * (80.0 / drawn));
}

// The matrix's configurations, f(source, scale%, quick, count): every size in
// both qualities, and the 5000-particle frame (a 32-pixel shape at 0.5 to 2
// times its size) in high quality.
template <typename F>
void ForEachShot(F f) {
    for (int64_t n : {32, 128, 256})
        for (int64_t scale : {30, 100, 200})
            for (int64_t quick : {0, 1}) f(n, scale, quick, CountFor(n, scale));
    f(32, 0, 0, 5000);
}

void ShotRows(benchmark::internal::Benchmark* b) {
    ForEachShot([b](int64_t n, int64_t scale, int64_t quick, int64_t count) {
        for (int64_t threads : {1, 2}) b->Args({n, scale, quick, threads, count});
    });
}

void ShotPairRows(benchmark::internal::Benchmark* b) {
    ForEachShot([b](int64_t n, int64_t scale, int64_t quick, int64_t count) { b->Args({n, scale, quick, count}); });
}

// The blurred frame: 20000 particles of the 32-pixel shape at its size, sigma
// 5 pixels in 3 passes, at 1 and 2 threads.
void ShotBlurRows(benchmark::internal::Benchmark* b) {
    for (int64_t threads : {1, 2}) b->Args({32, 100, 0, threads, 20000, 5, 3});
}

#ifdef LUMETS_BENCH_CAIRO
void CairoRows(benchmark::internal::Benchmark* b) {
    for (int64_t n : {32, 128, 256})
        for (int64_t scale : {30, 100, 200})
            for (int64_t filter : {0, 1}) b->Args({n, scale, filter, CountFor(n, scale)});
    for (int64_t filter : {0, 1}) b->Args({32, 0, filter, 5000});
}
#endif

}  // namespace

BENCHMARK(BM_Shot)->Apply(ShotRows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_ShotPair)->Apply(ShotPairRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
// The motion-blur rows: the 20000 particles of the 128-pixel shape drawn at
// 0.3 times (about 38 pixels), high quality and quick.
BENCHMARK(BM_ShotMotionPair)->Args({128, 30, 0, 20000})->Args({128, 30, 1, 20000})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ShotBlur)->Apply(ShotBlurRows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
#ifdef LUMETS_BENCH_CAIRO
BENCHMARK(BM_Cairo)->Apply(CairoRows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
#endif
BENCHMARK_MAIN();
