// Shape resampling speed: destination pixels per second of ResampleShape for a
// 32 x 32 shape drawn at 48 x 40, turned by 30 degrees, in both sampling modes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "render/pixel_kernels.h"
#include "render/resample.h"

namespace {

std::vector<uint16_t> SoftDisc(int32_t n) {
    std::vector<uint16_t> buf(std::size_t(n) * n * 4);
    const double c = (n - 1) * 0.5;
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const double d = std::hypot(x - c, y - c) / (n * 0.5);
            const uint16_t a = d >= 1.0 ? 0 : uint16_t(65535.0 * (1.0 - d));
            uint16_t* p = buf.data() + (std::size_t(y) * n + x) * 4;
            p[0] = uint16_t(60000 - 900 * x);
            p[1] = uint16_t(20000 + 1000 * y);
            p[2] = 40000;
            p[3] = a;
        }
    return buf;
}

void BM_Resample(benchmark::State& state) {
    const unsigned quality = unsigned(state.range(0));
    const int32_t n = 32, dw = 48, dh = 40;
    const std::vector<uint16_t> src = SoftDisc(n);
    float angle = 30.0f;
    for (auto _ : state) {
        std::vector<uint16_t> out = ResampleShape(src.data(), n, n, angle, 0.25f, 0.75f, dw, dh, quality, 1.0f, 1.0f);
        benchmark::DoNotOptimize(out.data());
        angle += 0.001f;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * dw * dh);
    state.SetLabel(quality ? "bspline" : "nearest");
}

// The compositing's spline kernel alone, in each instruction set's version: a
// 128 px soft disc (with its doubles and clear map, as the compositing makes
// them) drawn at 38 x 38, turned, at shifting sub-pixel offsets. Reports the
// picture pixels per second.
void BM_SplineKernel(benchmark::State& state) {
    const PixelIsa isa = PixelIsa(state.range(0));
    if (!PixelIsaSupported(isa)) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    const PixelKernels& kernels = KernelsFor(isa);
    const int32_t n = int32_t(state.range(1)), d = int32_t(state.range(2));
    const std::vector<uint16_t> px = SoftDisc(n);
    SourceView src = ViewOf(px.data(), n, n);
    std::vector<double> wide;
    std::vector<uint8_t> clear;
    AddWideAndClear(src, wide, clear);
    std::vector<uint16_t> row(std::size_t(d) * 4);
    float angle = 30.0f, f = 0.0f;
    for (auto _ : state) {
        const ResampleSetup rs = MakeResampleSetup(n, n, angle, f, 1.0f - f, d, d, 1.0f, 1.0f);
        for (int32_t j = 0; j < d; ++j) {
            kernels.SplineRow(src, rs, j, 0, d, row.data());
            benchmark::DoNotOptimize(row.data());
        }
        angle += 0.37f;
        f = f > 0.9f ? 0.0f : f + 0.13f;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * d * d);
    state.SetLabel(PixelIsaName(isa));
}

}  // namespace

BENCHMARK(BM_Resample)->Arg(0)->Arg(1);
// A 128 px source drawn at 38 px (the shot's high-quality row, taps spread
// over a source larger than the first-level cache), and a 32 px one drawn at
// 32 and 64 px (the 5000-particle frame's sizes, the source in that cache).
BENCHMARK(BM_SplineKernel)
    ->ArgsProduct({{int(PixelIsa::Generic), int(PixelIsa::Avx2), int(PixelIsa::Avx512)}, {128}, {38}})
    ->ArgsProduct({{int(PixelIsa::Avx2), int(PixelIsa::Avx512)}, {32}, {32, 64}});
BENCHMARK_MAIN();
