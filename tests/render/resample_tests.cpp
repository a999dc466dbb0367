#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "render/resample.h"

namespace {

using Buffer = std::vector<uint16_t>;

Buffer Uniform(int32_t w, int32_t h, uint16_t r, uint16_t g, uint16_t b, uint16_t a) {
    Buffer buf(std::size_t(w) * h * 4);
    for (std::size_t i = 0; i < buf.size(); i += 4) {
        buf[i] = r;
        buf[i + 1] = g;
        buf[i + 2] = b;
        buf[i + 3] = a;
    }
    return buf;
}

uint16_t* At(Buffer& buf, int32_t w, int32_t x, int32_t y) { return buf.data() + (std::size_t(y) * w + x) * 4; }

}  // namespace

TEST(ResampleNearest, IdentityReproducesTheSourceExactly) {
    const int32_t w = 7, h = 5;
    Buffer src(std::size_t(w) * h * 4);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = uint16_t(i * 977 + 13);
    const Buffer dst = ResampleShape(src.data(), w, h, 0.0f, 0.0f, 0.0f, w, h, 0, 1.0f, 1.0f);
    EXPECT_EQ(dst, src);
}

TEST(ResampleBSpline, WholePixelPositionsWeighNeighboursOneSixthTwoThirdsOneSixth) {
    const int32_t n = 9;
    Buffer src = Uniform(n, n, 0, 0, 0, 0);
    uint16_t* centre = At(src, n, 4, 4);
    centre[0] = centre[1] = centre[2] = centre[3] = 60000;
    Buffer dst = ResampleShape(src.data(), n, n, 0.0f, 0.0f, 0.0f, n, n, 1, 1.0f, 1.0f);
    const double side = 1.0 / 6.0, mid = 2.0 / 3.0;
    auto expectNear = [&](int32_t x, int32_t y, double weight) {
        const double want = 60000.0 * weight;
        for (int ch = 0; ch < 4; ++ch) EXPECT_NEAR(At(dst, n, x, y)[ch], want, 1.0) << x << "," << y;
    };
    expectNear(4, 4, mid * mid);
    expectNear(3, 4, side * mid);
    expectNear(5, 4, side * mid);
    expectNear(4, 3, side * mid);
    expectNear(3, 3, side * side);
    expectNear(5, 5, side * side);
    expectNear(2, 4, 0.0);
    expectNear(6, 6, 0.0);
}

TEST(ResampleBSpline, UniformOpaqueSourceStaysOpaqueInsideAndDropsAtTheBorder) {
    const int32_t n = 8;
    const Buffer src = Uniform(n, n, 65535, 65535, 65535, 65535);
    Buffer dst = ResampleShape(src.data(), n, n, 0.0f, 0.0f, 0.0f, n, n, 1, 1.0f, 1.0f);
    EXPECT_EQ(At(dst, n, 3, 3)[3], 65535);
    EXPECT_EQ(At(dst, n, 4, 5)[0], 65535);
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_LT(At(dst, n, 0, i)[3], 65535);
        EXPECT_LT(At(dst, n, n - 1, i)[3], 65535);
        EXPECT_LT(At(dst, n, i, 0)[3], 65535);
        EXPECT_LT(At(dst, n, i, n - 1)[3], 65535);
    }
    // A left-out tap removes a sixth of the weight: an edge keeps 5/6.
    EXPECT_NEAR(At(dst, n, 0, 4)[3], 65535.0 * 5.0 / 6.0, 1.0);
    EXPECT_NEAR(At(dst, n, 0, 0)[3], 65535.0 * 25.0 / 36.0, 1.0);
}

TEST(ResampleShapeMapping, PositionsOutsideTheSourceAreTransparentBlack) {
    const int32_t n = 8;
    const Buffer src = Uniform(n, n, 65535, 30000, 20000, 65535);
    for (unsigned q : {0u, 1u}) {
        // Turned by 45 degrees the corners of the destination fall outside.
        Buffer dst = ResampleShape(src.data(), n, n, 45.0f, 0.0f, 0.0f, n, n, q, 1.0f, 1.0f);
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(At(dst, n, 0, 0)[ch], 0);
            EXPECT_EQ(At(dst, n, n - 1, n - 1)[ch], 0);
        }
        EXPECT_GT(At(dst, n, 4, 4)[3], 60000);
        // Shifted by more than its width every pixel lies outside.
        dst = ResampleShape(src.data(), n, n, 0.0f, 20.0f, 0.0f, n, n, q, 1.0f, 1.0f);
        for (uint16_t v : dst) ASSERT_EQ(v, 0);
    }
}

TEST(ResampleShapeMapping, PositiveAngleTurnsCounterClockwise) {
    // Source: top row red, left column green, top-right pixel blue as well.
    const int32_t n = 8;
    Buffer src = Uniform(n, n, 0, 0, 0, 65535);
    for (int32_t i = 0; i < n; ++i) {
        At(src, n, i, 0)[0] = 65535;
        At(src, n, 0, i)[1] = 65535;
    }
    At(src, n, n - 1, 0)[2] = 65535;
    Buffer dst = ResampleShape(src.data(), n, n, 90.0f, 0.0f, 0.0f, n, n, 0, 1.0f, 1.0f);
    // The top row runs down the left column, its right end at the top ...
    for (int32_t j = 0; j < n; ++j) EXPECT_EQ(At(dst, n, 0, j)[0], 65535) << j;
    EXPECT_EQ(At(dst, n, 0, 0)[2], 65535);
    // ... and the left column along the bottom row.
    for (int32_t i = 0; i < n; ++i) EXPECT_EQ(At(dst, n, i, n - 1)[1], 65535) << i;
    EXPECT_EQ(At(dst, n, n - 1, 0)[0], 0);
    EXPECT_EQ(At(dst, n, n - 1, 0)[1], 0);
}

TEST(ResampleShapeMapping, HalfPixelOffsetMovesThePictureToHigherColumns) {
    const int32_t w = 8, h = 4;
    Buffer src = Uniform(w, h, 0, 0, 0, 0);
    for (int32_t y = 0; y < h; ++y) At(src, w, 3, y)[3] = 65535;
    Buffer dst = ResampleShape(src.data(), w, h, 0.0f, 0.5f, 0.0f, w, h, 0, 1.0f, 1.0f);
    for (int32_t y = 0; y < h; ++y) {
        EXPECT_EQ(At(dst, w, 4, y)[3], 65535);
        EXPECT_EQ(At(dst, w, 3, y)[3], 0);
    }
    // With the spline the weight moves the same way: column 4 outweighs column 2.
    dst = ResampleShape(src.data(), w, h, 0.0f, 0.5f, 0.0f, w, h, 1, 1.0f, 1.0f);
    EXPECT_GT(At(dst, w, 4, 1)[3], At(dst, w, 2, 1)[3]);
}

TEST(ResampleShapeMapping, ScalesTheSourceOverTheDestination) {
    const int32_t w = 4, h = 4;
    Buffer src(std::size_t(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) At(src, w, x, y)[0] = uint16_t(1000 * (y * w + x) + 1);
    Buffer dst = ResampleShape(src.data(), w, h, 0.0f, 0.0f, 0.0f, 8, 8, 0, 1.0f, 1.0f);
    ASSERT_EQ(dst.size(), 8u * 8u * 4u);
    EXPECT_EQ(At(dst, 8, 0, 0)[0], At(src, w, 0, 0)[0]);
    EXPECT_EQ(At(dst, 8, 7, 7)[0], At(src, w, 3, 3)[0]);
    EXPECT_TRUE(ResampleShape(src.data(), w, h, 0.0f, 0.0f, 0.0f, 0, 5, 1, 1.0f, 1.0f).empty());
}

TEST(ResampleShapeMapping, RegionEqualsTheSamePixelsOfTheWholePicture) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        const int32_t sw = 1 + int32_t(rng() % 12), sh = 1 + int32_t(rng() % 12);
        const int32_t dw = 1 + int32_t(rng() % 20), dh = 1 + int32_t(rng() % 20);
        Buffer src(std::size_t(sw) * sh * 4);
        for (auto& v : src) v = uint16_t(rng());
        const float angle = float(rng() % 720) - 360.0f, fx = float(rng() % 100) / 50.0f - 1.0f;
        const float fy = float(rng() % 100) / 50.0f - 1.0f, ay = 0.5f + float(rng() % 4) * 0.25f;
        const unsigned q = rng() % 2;
        const Buffer whole = ResampleShape(src.data(), sw, sh, angle, fx, fy, dw, dh, q, ay, 1.0f);
        const int32_t r0 = int32_t(rng() % dh), r1 = r0 + 1 + int32_t(rng() % (dh - r0));
        const int32_t c0 = int32_t(rng() % dw), c1 = c0 + 1 + int32_t(rng() % (dw - c0));
        Buffer part(std::size_t(r1 - r0) * (c1 - c0) * 4);
        ResampleShapeRegion(src.data(), sw, sh, angle, fx, fy, dw, dh, q, ay, 1.0f, r0, r1, c0, c1, part.data());
        for (int32_t r = r0; r < r1; ++r)
            for (int32_t c = c0; c < c1; ++c)
                for (int ch = 0; ch < 4; ++ch)
                    ASSERT_EQ(part[(std::size_t(r - r0) * (c1 - c0) + (c - c0)) * 4 + ch],
                              whole[(std::size_t(r) * dw + c) * 4 + ch]);
    }
}

TEST(TintShape, MixesColourByWeightAndKeepsAlpha) {
    Buffer buf = {60000, 30000, 0, 12345, 0, 65535, 65535, 65535};
    TintShape(buf.data(), 2, 1, 65535, 0, 32768, 16384);
    const uint32_t keep = 65535 - 16384;
    EXPECT_EQ(buf[0], ((60000u * keep) >> 16) + ((65535u * 16384u) >> 16));
    EXPECT_EQ(buf[1], ((30000u * keep) >> 16));
    EXPECT_EQ(buf[2], ((32768u * 16384u) >> 16));
    EXPECT_EQ(buf[3], 12345);
    EXPECT_EQ(buf[7], 65535);
    // Weight 0 keeps the colours within one unit.
    Buffer same = {40000, 20000, 10000, 5};
    TintShape(same.data(), 1, 1, 65535, 65535, 65535, 0);
    EXPECT_EQ(same[0], 39999);
    EXPECT_EQ(same[3], 5);
}
