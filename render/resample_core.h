#pragma once
// The arithmetic of shape resampling, one pixel at a time: shared by the plain
// resampler and the generic compositing kernels, so that both are the same
// code. Internal linkage: every file that includes it gets its own copy, built
// for that file's instruction set.
#include <cstddef>
#include <cstdint>

#include "render/pixel_kernels.h"

namespace {

// Uniform cubic B-spline basis: row k weighs tap k as a cubic in the fraction
// (coefficients of 1, t, t^2, t^3).
constexpr float BSplineBasis[4][4] = {
    {1.0f / 6.0f, -0.5f, 0.5f, -1.0f / 6.0f},
    {2.0f / 3.0f, 0.0f, -1.0f, 0.5f},
    {1.0f / 6.0f, 0.5f, 0.5f, -0.5f},
    {0.0f, 0.0f, 0.0f, 1.0f / 6.0f},
};

inline void SplineWeights(float t, float w[4]) {
    const float t2 = t * t;
    const float t3 = t2 * t;
    for (int k = 0; k < 4; ++k)
        w[k] = BSplineBasis[k][0] + BSplineBasis[k][1] * t + BSplineBasis[k][2] * t2 + BSplineBasis[k][3] * t3;
}

inline uint16_t StoreSum(double sum) {
    // Sums above 65535 only arise between -1 and 0 where the weights are no
    // longer a partition; they are limited rather than wrapped.
    if (!(sum >= 0.0)) return 0;
    if (sum >= 65535.0) return 65535;
    return uint16_t(sum);
}

// One B-spline sample at (iu + a, iv + b), taps outside the source left out
// (the remaining weights are not rescaled). Each channel's sum takes the taps
// row by row, left to right, as double products of the two float weights and
// the 16-bit value.
inline void SampleSplineAt(const SourceView& src, int32_t iu, int32_t iv, float a, float b, uint16_t* px) {
    float wx[4], wy[4];
    SplineWeights(a, wx);
    SplineWeights(b, wy);
    double sum0 = 0.0, sum1 = 0.0, sum2 = 0.0, sum3 = 0.0;
    for (int ky = 0; ky < 4; ++ky) {
        const int32_t y = iv - 1 + ky;
        if (y < 0 || y >= src.H) continue;
        const double wyk = wy[ky];
        const uint16_t* row = src.Px + int64_t(y) * src.Stride;
        for (int kx = 0; kx < 4; ++kx) {
            const int32_t x = iu - 1 + kx;
            if (x < 0 || x >= src.W) continue;
            const double w = wyk * double(wx[kx]);
            const uint16_t* s = row + std::size_t(x) * 4;
            sum0 += w * double(s[0]);
            sum1 += w * double(s[1]);
            sum2 += w * double(s[2]);
            sum3 += w * double(s[3]);
        }
    }
    px[0] = StoreSum(sum0);
    px[1] = StoreSum(sum1);
    px[2] = StoreSum(sum2);
    px[3] = StoreSum(sum3);
}

// Picture row j, columns c0..c1, the plain way: each pixel mapped back into the
// source and sampled (q = 0: nearest pixel, else B-spline).
inline void ResampleRowPlain(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                             unsigned q, uint16_t* px) {
    const bool empty = src.W <= 0 || src.H <= 0 || src.Px == nullptr;
    const float dy = (float(j) - rs.Cdy) * rs.Ay;
    for (int32_t i = c0; i < c1; ++i, px += 4) {
        const float dx = (float(i) - rs.Cdx) * rs.Ax;
        const float u = (dx * rs.C + dy * rs.S) * rs.Kxa + rs.Csx - rs.Fx;
        const float v = (dy * rs.C - dx * rs.S) * rs.Kya + rs.Csy - rs.Fy;
        // trunc(u) lies in [0, sw) exactly when -1 < u < sw; positions between
        // -1 and 0 truncate to 0 and still count as inside.
        if (empty || !(u > -1.0f && u < rs.Width && v > -1.0f && v < rs.Height)) {
            px[0] = px[1] = px[2] = px[3] = 0;
            continue;
        }
        const int32_t iu = int32_t(u);
        const int32_t iv = int32_t(v);
        if (q == 0) {
            const uint16_t* sp = src.Px + int64_t(iv) * src.Stride + std::size_t(iu) * 4;
            px[0] = sp[0];
            px[1] = sp[1];
            px[2] = sp[2];
            px[3] = sp[3];
        } else {
            SampleSplineAt(src, iu, iv, u - float(iu), v - float(iv), px);
        }
    }
}

}  // namespace
