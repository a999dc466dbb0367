// Shape resampling speed: destination pixels per second of ResampleShape for a
// 32 x 32 shape drawn at 48 x 40, turned by 30 degrees, in both sampling modes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

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

}  // namespace

BENCHMARK(BM_Resample)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
