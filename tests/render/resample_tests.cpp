#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "render/pixel_kernels.h"
#include "render/resample.h"

namespace {

using Buffer = std::vector<uint16_t>;

Buffer Uniform(int32_t w, int32_t h, std::vector<uint16_t> rgba) {
    Buffer buf;
    for (int32_t i = 0; i < w * h; ++i) buf.insert(buf.end(), rgba.begin(), rgba.end());
    return buf;
}

uint16_t* At(Buffer& buf, int32_t w, int32_t x, int32_t y) { return buf.data() + (std::size_t(y) * w + x) * 4; }

// Resamples an n x n source onto n x n (quality 0 nearest, 1 B-spline).
Buffer Same(const Buffer& src, int32_t n, unsigned quality, float angle = 0.0f, float fx = 0.0f) {
    return ResampleShape(src.data(), n, n, angle, fx, 0.0f, n, n, quality, 1.0f, 1.0f);
}

}  // namespace

TEST(ResampleNearest, IdentityReproducesTheSourceExactlyAndScalesOverTheDestination) {
    const int32_t w = 7, h = 5;
    Buffer src(std::size_t(w) * h * 4);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = uint16_t(i * 977 + 13);
    EXPECT_EQ(ResampleShape(src.data(), w, h, 0.0f, 0.0f, 0.0f, w, h, 0, 1.0f, 1.0f), src);
    Buffer big = ResampleShape(src.data(), w, h, 0.0f, 0.0f, 0.0f, 14, 10, 0, 1.0f, 1.0f);
    ASSERT_EQ(big.size(), 14u * 10u * 4u);
    EXPECT_EQ(At(big, 14, 0, 0)[0], At(src, w, 0, 0)[0]);
    EXPECT_EQ(At(big, 14, 13, 9)[0], At(src, w, 6, 4)[0]);
    EXPECT_TRUE(ResampleShape(src.data(), w, h, 0.0f, 0.0f, 0.0f, 0, 5, 1, 1.0f, 1.0f).empty());
}

TEST(ResampleBSpline, WeighsNeighboursOneSixthTwoThirdsOneSixthAndDropsAtTheBorder) {
    const int32_t n = 9;
    Buffer src = Uniform(n, n, {0, 0, 0, 0});
    std::fill_n(At(src, n, 4, 4), 4, uint16_t(60000));
    Buffer dst = Same(src, n, 1);
    const double side = 1.0 / 6.0, mid = 2.0 / 3.0;
    const struct {
        int32_t x, y;
        double weight;
    } rows[] = {{4, 4, mid * mid}, {3, 4, side * mid}, {5, 4, side * mid}, {4, 3, side * mid},
                {3, 3, side * side}, {5, 5, side * side}, {2, 4, 0.0}, {6, 6, 0.0}};
    for (const auto& r : rows)
        for (int ch = 0; ch < 4; ++ch) EXPECT_NEAR(At(dst, n, r.x, r.y)[ch], 60000.0 * r.weight, 1.0) << r.x << "," << r.y;

    // A uniform opaque source stays opaque inside; a left-out tap at the border
    // removes a sixth of the weight: an edge keeps 5/6, a corner 25/36.
    const Buffer white = Uniform(8, 8, {65535, 65535, 65535, 65535});
    dst = Same(white, 8, 1);
    EXPECT_EQ(At(dst, 8, 3, 3)[3], 65535);
    EXPECT_EQ(At(dst, 8, 4, 5)[0], 65535);
    for (int32_t i = 0; i < 8; ++i)
        for (uint16_t* p : {At(dst, 8, 0, i), At(dst, 8, 7, i), At(dst, 8, i, 0), At(dst, 8, i, 7)}) EXPECT_LT(p[3], 65535);
    EXPECT_NEAR(At(dst, 8, 0, 4)[3], 65535.0 * 5.0 / 6.0, 1.0);
    EXPECT_NEAR(At(dst, 8, 0, 0)[3], 65535.0 * 25.0 / 36.0, 1.0);
}

TEST(ResampleShapeMapping, PositionsOutsideTheSourceAreTransparentBlack) {
    const int32_t n = 8;
    const Buffer src = Uniform(n, n, {65535, 30000, 20000, 65535});
    for (unsigned q : {0u, 1u}) {
        // Turned by 45 degrees the corners of the destination fall outside.
        Buffer dst = Same(src, n, q, 45.0f);
        for (int ch = 0; ch < 4; ++ch) EXPECT_TRUE(At(dst, n, 0, 0)[ch] == 0 && At(dst, n, n - 1, n - 1)[ch] == 0) << q;
        EXPECT_GT(At(dst, n, 4, 4)[3], 60000);
        // Shifted by more than its width every pixel lies outside.
        EXPECT_EQ(Same(src, n, q, 0.0f, 20.0f), Buffer(src.size(), 0)) << q;
    }
}

TEST(ResampleShapeMapping, PositiveAngleTurnsCounterClockwise) {
    // Source: top row red, left column green, top-right pixel blue as well.
    const int32_t n = 8;
    Buffer src = Uniform(n, n, {0, 0, 0, 65535});
    for (int32_t i = 0; i < n; ++i) At(src, n, i, 0)[0] = At(src, n, 0, i)[1] = 65535;
    At(src, n, n - 1, 0)[2] = 65535;
    Buffer dst = Same(src, n, 0, 90.0f);
    // The top row runs down the left column, its right end at the top, and the
    // left column along the bottom row.
    for (int32_t j = 0; j < n; ++j) EXPECT_TRUE(At(dst, n, 0, j)[0] == 65535 && At(dst, n, j, n - 1)[1] == 65535) << j;
    EXPECT_EQ(At(dst, n, 0, 0)[2], 65535);
    EXPECT_TRUE(At(dst, n, n - 1, 0)[0] == 0 && At(dst, n, n - 1, 0)[1] == 0);
}

TEST(ResampleShapeMapping, HalfPixelOffsetMovesThePictureToHigherColumns) {
    const int32_t n = 8;
    Buffer src = Uniform(n, n, {0, 0, 0, 0});
    for (int32_t y = 0; y < n; ++y) At(src, n, 3, y)[3] = 65535;
    Buffer dst = Same(src, n, 0, 0.0f, 0.5f);
    for (int32_t y = 0; y < n; ++y) EXPECT_TRUE(At(dst, n, 4, y)[3] == 65535 && At(dst, n, 3, y)[3] == 0) << y;
    // With the spline the weight moves the same way: column 4 outweighs column 2.
    dst = Same(src, n, 1, 0.0f, 0.5f);
    EXPECT_GT(At(dst, n, 4, 1)[3], At(dst, n, 2, 1)[3]);
}

// The spline kernel of every instruction set against the generic one, on
// sources that stress what the fast ones may get wrong: flat areas (whole
// sums, where a sum made in another order would fall on the other side of an
// integer), channels of 0 and 65535, ramps, noise, and sampling positions
// between -1 and 0 at the borders. Each source has its doubles and clear map,
// as the compositing gives them.
TEST(SplineKernels, EveryInstructionSetGivesTheGenericWords) {
    const int32_t n = 24;
    std::vector<Buffer> sources = {Uniform(n, n, {65535, 65535, 65535, 65535}), Uniform(n, n, {0, 30000, 1, 65535}),
                                   Buffer(std::size_t(n) * n * 4), Buffer(std::size_t(n) * n * 4)};
    uint32_t seed = 7;
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            uint16_t* ramp = At(sources[2], n, x, y);
            ramp[0] = uint16_t(x * 2000), ramp[1] = uint16_t(y * 1000), ramp[2] = 65535, ramp[3] = x < 8 ? 0 : 40000;
            for (int c = 0; c < 4; ++c)
                At(sources[3], n, x, y)[c] = uint16_t((seed = seed * 1664525u + 1013904223u) >> 16);
        }
    int64_t compared = 0;
    for (const Buffer& px : sources) {
        SourceView src = ViewOf(px.data(), n, n);
        std::vector<double> wide;
        std::vector<uint8_t> clear;
        AddWideAndClear(src, wide, clear);
        for (int round = 0; round < 300; ++round) {
            seed = seed * 1664525u + 1013904223u;
            const float angle = float(seed % 3600) / 10.0f - 180.0f;
            const float fx = float(seed % 97) / 97.0f, fy = float(seed % 89) / 89.0f;
            const int32_t d = 4 + int32_t(seed >> 24) % 60;  // from 1/6 to 2.7 times the source
            const float ay = 1.0f + float(round % 3) / 4.0f;
            const ResampleSetup rs = MakeResampleSetup(n, n, angle, fx, fy, d, d + 3, ay, 1.0f);
            for (int32_t j = -1; j < d + 4; ++j) {
                Buffer want(std::size_t(d + 2) * 4), got(want.size());
                GenericKernels.SplineRow(src, rs, j, -1, d + 1, want.data());
                for (PixelIsa isa : {PixelIsa::Avx2, PixelIsa::Avx512}) {
                    if (!PixelIsaSupported(isa)) continue;
                    KernelsFor(isa).SplineRow(src, rs, j, -1, d + 1, got.data());
                    // A pixel whose taps are all clear may be written as transparent black.
                    for (std::size_t i = 0; i < got.size(); i += 4)
                        if (want[i + 3] == 0 && got[i] == 0 && got[i + 1] == 0 && got[i + 2] == 0 && got[i + 3] == 0)
                            std::copy(want.begin() + i, want.begin() + i + 4, got.begin() + i);
                    ASSERT_EQ(got, want) << PixelIsaName(isa) << ", round " << round << ", row " << j;
                    ++compared;
                }
            }
        }
    }
    if (compared == 0) GTEST_SKIP() << "this processor has no vector kernels";
}
