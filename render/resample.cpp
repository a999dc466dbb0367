#include "render/resample.h"

#include <cmath>
#include <cstddef>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Uniform cubic B-spline basis: row k weighs tap k as a cubic in the fraction
// (coefficients of 1, t, t^2, t^3).
constexpr float BSplineBasis[4][4] = {
    {1.0f / 6.0f, -0.5f, 0.5f, -1.0f / 6.0f},
    {2.0f / 3.0f, 0.0f, -1.0f, 0.5f},
    {1.0f / 6.0f, 0.5f, 0.5f, -0.5f},
    {0.0f, 0.0f, 0.0f, 1.0f / 6.0f},
};

// Degrees to radians as the resampler has always turned them: the float nearest
// 0.017453296, two units in the last place above the float nearest pi/180.
constexpr float ResampleDegreesToRadians = 0.017453296f;

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

// One B-spline sample at (iu + a, iv + b) with taps outside the source left out
// (the remaining weights are not rescaled). T is the element type of the source
// copy being read: the 16-bit source itself, or the same values as doubles.
template <class T>
inline void SampleSpline(const T* src, int32_t sw, int32_t sh, int32_t iu, int32_t iv, float a, float b,
                         uint16_t* px) {
    float wx[4], wy[4];
    SplineWeights(a, wx);
    SplineWeights(b, wy);
    double sum0 = 0.0, sum1 = 0.0, sum2 = 0.0, sum3 = 0.0;
    const bool inner = iu >= 1 && iu + 2 < sw && iv >= 1 && iv + 2 < sh;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<T, double>) {
        if (inner) {
            // The same products and sums as below, two channels per instruction.
            __m128d s01 = _mm_setzero_pd(), s23 = _mm_setzero_pd();
            const double* row = src + (std::size_t(iv - 1) * std::size_t(sw) + std::size_t(iu - 1)) * 4;
            const std::size_t stride = std::size_t(sw) * 4;
            for (int ky = 0; ky < 4; ++ky, row += stride) {
                const double wyk = wy[ky];
                for (int kx = 0; kx < 4; ++kx) {
                    const __m128d w = _mm_set1_pd(wyk * double(wx[kx]));
                    s01 = _mm_add_pd(s01, _mm_mul_pd(w, _mm_loadu_pd(row + kx * 4)));
                    s23 = _mm_add_pd(s23, _mm_mul_pd(w, _mm_loadu_pd(row + kx * 4 + 2)));
                }
            }
            double sums[4];
            _mm_storeu_pd(sums, s01);
            _mm_storeu_pd(sums + 2, s23);
            for (int ch = 0; ch < 4; ++ch) px[ch] = StoreSum(sums[ch]);
            return;
        }
    }
#endif
    if (inner) {
        const T* row = src + (std::size_t(iv - 1) * std::size_t(sw) + std::size_t(iu - 1)) * 4;
        const std::size_t stride = std::size_t(sw) * 4;
        for (int ky = 0; ky < 4; ++ky, row += stride) {
            const double wyk = wy[ky];
            for (int kx = 0; kx < 4; ++kx) {
                const double w = wyk * double(wx[kx]);
                const T* s = row + kx * 4;
                sum0 += w * double(s[0]);
                sum1 += w * double(s[1]);
                sum2 += w * double(s[2]);
                sum3 += w * double(s[3]);
            }
        }
    } else {
        for (int ky = 0; ky < 4; ++ky) {
            const int32_t y = iv - 1 + ky;
            if (y < 0 || y >= sh) continue;
            const double wyk = wy[ky];
            for (int kx = 0; kx < 4; ++kx) {
                const int32_t x = iu - 1 + kx;
                if (x < 0 || x >= sw) continue;
                const double w = wyk * double(wx[kx]);
                const T* s = src + (std::size_t(y) * std::size_t(sw) + std::size_t(x)) * 4;
                sum0 += w * double(s[0]);
                sum1 += w * double(s[1]);
                sum2 += w * double(s[2]);
                sum3 += w * double(s[3]);
            }
        }
    }
    px[0] = StoreSum(sum0);
    px[1] = StoreSum(sum1);
    px[2] = StoreSum(sum2);
    px[3] = StoreSum(sum3);
}

// Sources up to this many pixels are read by the spline as doubles made once
// per call (the same values, so the same sums), sparing the conversion per tap.
constexpr std::size_t WidenedSourceLimit = std::size_t(1) << 16;

}  // namespace

void ResampleShapeRegion(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy, int32_t dw,
                         int32_t dh, unsigned q, float ay, float ax, int32_t r0, int32_t r1, int32_t c0, int32_t c1,
                         uint16_t* out) {
    if (dw <= 0 || dh <= 0 || r1 <= r0 || c1 <= c0) return;
    const float kx = float(sw) / float(dw);
    const float ky = float(sh) / float(dh);
    const float theta = -(angle * ResampleDegreesToRadians);
    const float c = std::cos(theta);
    const float s = std::sin(theta);
    const float cdx = float(dw - 1) * 0.5f;
    const float cdy = float(dh - 1) * 0.5f;
    const float csx = float(sw - 1) * 0.5f;
    const float csy = float(sh - 1) * 0.5f;
    const float kxa = kx / ax;
    const float kya = ky / ay;
    const float width = float(sw), height = float(sh);
    const bool empty = sw <= 0 || sh <= 0 || src == nullptr;

    // Kept per thread: the compositing workers resample many small shapes.
    static thread_local std::vector<double> widened;
    const double* wide = nullptr;
    if (q != 0 && !empty && std::size_t(sw) * std::size_t(sh) <= WidenedSourceLimit) {
        widened.assign(src, src + std::size_t(sw) * std::size_t(sh) * 4);
        wide = widened.data();
    }

    uint16_t* px = out;
    for (int32_t j = r0; j < r1; ++j) {
        const float dy = (float(j) - cdy) * ay;
        for (int32_t i = c0; i < c1; ++i, px += 4) {
            const float dx = (float(i) - cdx) * ax;
            const float u = (dx * c + dy * s) * kxa + csx - fx;
            const float v = (dy * c - dx * s) * kya + csy - fy;
            // trunc(u) lies in [0, sw) exactly when -1 < u < sw; positions between
            // -1 and 0 truncate to 0 and still count as inside.
            if (empty || !(u > -1.0f && u < width && v > -1.0f && v < height)) {
                px[0] = px[1] = px[2] = px[3] = 0;
                continue;
            }
            const int32_t iu = int32_t(u);
            const int32_t iv = int32_t(v);
            if (q == 0) {
                const uint16_t* sp = src + (std::size_t(iv) * std::size_t(sw) + std::size_t(iu)) * 4;
                px[0] = sp[0];
                px[1] = sp[1];
                px[2] = sp[2];
                px[3] = sp[3];
            } else if (wide) {
                SampleSpline(wide, sw, sh, iu, iv, u - float(iu), v - float(iv), px);
            } else {
                SampleSpline(src, sw, sh, iu, iv, u - float(iu), v - float(iv), px);
            }
        }
    }
}

std::vector<uint16_t> ResampleShape(const uint16_t* src, int32_t sw, int32_t sh, float angle, float fx, float fy,
                                    int32_t dw, int32_t dh, unsigned q, float ay, float ax) {
    if (dw <= 0 || dh <= 0) return {};
    std::vector<uint16_t> out(std::size_t(dw) * std::size_t(dh) * 4);
    ResampleShapeRegion(src, sw, sh, angle, fx, fy, dw, dh, q, ay, ax, 0, dh, 0, dw, out.data());
    return out;
}

void TintShape(uint16_t* buffer, int32_t width, int32_t height, uint32_t red, uint32_t green, uint32_t blue,
               uint32_t weight) {
    if (width <= 0 || height <= 0) return;
    const uint32_t keep = 65535u - weight;
    const uint32_t addR = (red * weight) >> 16, addG = (green * weight) >> 16, addB = (blue * weight) >> 16;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    for (std::size_t p = 0; p < n; ++p) {
        uint16_t* px = buffer + p * 4;
        px[0] = uint16_t(((px[0] * keep) >> 16) + addR);
        px[1] = uint16_t(((px[1] * keep) >> 16) + addG);
        px[2] = uint16_t(((px[2] * keep) >> 16) + addB);
    }
}
