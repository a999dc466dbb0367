#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "render/motion_blur.h"
#include "render/pixel_kernels.h"

namespace {

void CheckAgainstPlainSums(PixelIsa isa) {
    std::mt19937 rng(27);
    MotionSumRows fast;
    std::vector<uint16_t> want, got;
    for (int32_t draws = 1; draws <= MotionSumRows::MaxDraws; ++draws) {
        const bool full = draws % 2 == 1;
        const int32_t x0 = int32_t(rng() % 7) - 3, y0 = int32_t(rng() % 5), w = 1 + int32_t(rng() % 20),
                      h = 1 + int32_t(rng() % 4);
        if (draws % 3 == 0) {  // a particle given up half way (its memory dropped) leaves nothing behind
            const std::vector<uint16_t> junk(80, 65535);
            fast.Start(-10, -10, 30, 30);
            for (int32_t y = -10; y < 20; ++y) fast.AddRow(-10, y, junk.data(), 20, 0);
        }
        MotionSum plain;
        plain.Start(x0, y0, w, h);
        fast.Start(x0, y0, w, h);
        for (int32_t k = 0; k < draws; ++k) {
            const int32_t n = 1 + int32_t(rng() % 24), x = x0 - 2 + int32_t(rng() % 5);
            const uint32_t F = full ? 0 : (rng() % 4 == 0 ? 0 : rng() % 65536);
            std::vector<uint16_t> px(std::size_t(n) * 4);
            for (auto& v : px) v = full ? 65535 : uint16_t(rng());
            for (int32_t y = y0 - 1; y <= y0 + h; ++y) {
                plain.AddRow(x, y, px.data(), n, F);
                fast.AddRow(x, y, px.data(), n, F);
            }
        }
        plain.Finish(draws, want);
        fast.Finish(draws, got);
        ASSERT_EQ(want, got) << draws << " draws, " << PixelIsaName(isa);
    }
}

}  // namespace

// The worker's sums (32-bit halves, division by multiplication, memory kept
// between particles; plain and AVX2) give the plain sums' averages bit for
// bit: for every number of draws up to the most they take, with pixels at full
// value (the largest sums) and random ones, rows reaching past the box on
// either side, boxes of different sizes one after another on the same sums,
// and sums started again before they were finished.
TEST(MotionSumRows, EqualPlainSums) {
    for (PixelIsa isa : {PixelIsa::Generic, PixelIsa::Avx2})
        if (ForcePixelIsa(isa)) CheckAgainstPlainSums(isa);
    ClearForcedPixelIsa();
}
