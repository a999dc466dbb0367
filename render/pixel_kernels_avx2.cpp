// The compositing kernels for processors with AVX2. Only the functions below
// are built for AVX2 (the target pragma starts after the includes), and only
// called when the processor has it.
//
// Same arithmetic as the generic kernels, lane by lane:
// - the sample positions and spline weights of eight pixels at once, in single
//   precision, with the same operations in the same order;
// - the taps of one sample with its four channels in the four double lanes:
//   each channel's sum takes the same products in the same order (two samples
//   side by side, so that their chains of additions overlap);
// - tint and blend in 16-bit lanes, four pixels at once: (x * y) >> 16 is the
//   high half of the 16-bit product, and the limit at 65535 a saturating add.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "render/pixel_kernels.h"

// The functions below are built for avx2 (GCC's target pragma, or
// clang's attribute applied to every function of the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace {

// The spline's basis rows as vectors (coefficients of 1, t, t^2, t^3).
struct Basis8 {
    __m256 K[4][4];
};

inline Basis8 MakeBasis8() {
    const float b[4][4] = {
        {1.0f / 6.0f, -0.5f, 0.5f, -1.0f / 6.0f},
        {2.0f / 3.0f, 0.0f, -1.0f, 0.5f},
        {1.0f / 6.0f, 0.5f, 0.5f, -0.5f},
        {0.0f, 0.0f, 0.0f, 1.0f / 6.0f},
    };
    Basis8 basis;
    for (int k = 0; k < 4; ++k)
        for (int n = 0; n < 4; ++n) basis.K[k][n] = _mm256_set1_ps(b[k][n]);
    return basis;
}

// Positions of eight consecutive picture pixels of one row in the source.
struct Positions8 {
    __m256 U, V;
    int Inside;  // bit p: pixel p maps inside the source
};

inline Positions8 MapEight(const ResampleSetup& rs, float dys, float dyc, int32_t i0) {
    const __m256 fi =
        _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(i0), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m256 dx = _mm256_mul_ps(_mm256_sub_ps(fi, _mm256_set1_ps(rs.Cdx)), _mm256_set1_ps(rs.Ax));
    Positions8 pos;
    // u = (dx * c + dy * s) * kxa + csx - fx;  v = (dy * c - dx * s) * kya + csy - fy
    pos.U = _mm256_sub_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(dx, _mm256_set1_ps(rs.C)), _mm256_set1_ps(dys)),
                                    _mm256_set1_ps(rs.Kxa)),
                      _mm256_set1_ps(rs.Csx)),
        _mm256_set1_ps(rs.Fx));
    pos.V = _mm256_sub_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(dyc), _mm256_mul_ps(dx, _mm256_set1_ps(rs.S))),
                                    _mm256_set1_ps(rs.Kya)),
                      _mm256_set1_ps(rs.Csy)),
        _mm256_set1_ps(rs.Fy));
    const __m256 minus1 = _mm256_set1_ps(-1.0f);
    const __m256 in = _mm256_and_ps(
        _mm256_and_ps(_mm256_cmp_ps(pos.U, minus1, _CMP_GT_OQ), _mm256_cmp_ps(pos.U, _mm256_set1_ps(rs.Width), _CMP_LT_OQ)),
        _mm256_and_ps(_mm256_cmp_ps(pos.V, minus1, _CMP_GT_OQ),
                      _mm256_cmp_ps(pos.V, _mm256_set1_ps(rs.Height), _CMP_LT_OQ)));
    pos.Inside = _mm256_movemask_ps(in);
    return pos;
}

// w[k] = b[k][0] + b[k][1] * t + b[k][2] * t^2 + b[k][3] * t^3, eight fractions at once.
inline void Weights8(const Basis8& basis, __m256 t, float w[4][8]) {
    const __m256 t2 = _mm256_mul_ps(t, t);
    const __m256 t3 = _mm256_mul_ps(t2, t);
    for (int k = 0; k < 4; ++k) {
        const __m256 s = _mm256_add_ps(
            _mm256_add_ps(_mm256_add_ps(basis.K[k][0], _mm256_mul_ps(basis.K[k][1], t)), _mm256_mul_ps(basis.K[k][2], t2)),
            _mm256_mul_ps(basis.K[k][3], t3));
        _mm256_store_ps(w[k], s);
    }
}

// A row is sampled in blocks of this many pixels: positions, weights and the
// lists of pixels to sample are made for a whole block, so that the samples
// can be taken eight side by side.
constexpr int Block = 32;
// Inner samples taken side by side.
constexpr int SplineGroup = 4;

// The tap weights of eight pixels as doubles, wy[ky] * wx[kx] for tap
// ky * 4 + kx (exact: a product of two floats fits a double), into columns
// q .. q + 7 of w (tap t's weights at w[t * Block]).
inline void TapWeights8(const float wx[4][8], const float wy[4][8], double* w, int q) {
    for (int ky = 0; ky < 4; ++ky) {
        const __m256d ylo = _mm256_cvtps_pd(_mm_load_ps(wy[ky])), yhi = _mm256_cvtps_pd(_mm_load_ps(wy[ky] + 4));
        for (int kx = 0; kx < 4; ++kx) {
            double* col = w + (ky * 4 + kx) * Block + q;
            _mm256_store_pd(col, _mm256_mul_pd(ylo, _mm256_cvtps_pd(_mm_load_ps(wx[kx]))));
            _mm256_store_pd(col + 4, _mm256_mul_pd(yhi, _mm256_cvtps_pd(_mm_load_ps(wx[kx] + 4))));
        }
    }
}

// A tap's four channels as doubles.
inline __m256d TapValue(const uint16_t* px, int64_t at) {
    return _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(px + at))));
}

// Below 0 stored as 0, from 65535 on as 65535, otherwise truncated.
inline void StoreSample(__m256d sum, uint16_t* px) {
    sum = _mm256_min_pd(_mm256_max_pd(sum, _mm256_setzero_pd()), _mm256_set1_pd(65535.0));
    const __m128i words = _mm256_cvttpd_epi32(sum);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(px), _mm_packus_epi32(words, words));
}

// The sixteen taps of N samples whose taps all lie inside the source, taken
// side by side so that their chains of additions overlap. at[k]: the index of
// sample k's first tap; p[k]: its column in w; out[k]: where it goes.
template <bool Wide, int N>
inline void InnerSamples(const SourceView& src, const double* w, const int64_t* at, const int* p,
                         uint16_t* const* out) {
    // Each sample's own pointers to its first tap and first weight, in locals
    // (the stores below could otherwise alias them and force reloads).
    const double* wk[N];
    const double* dw[N];
    const uint16_t* dp[N];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
        wk[k] = w + p[k];
        if (Wide)
            dw[k] = src.Wide + at[k];
        else
            dp[k] = src.Px + at[k];
    }
    const int64_t stride = src.Stride;
    __m256d sum[N];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) sum[k] = _mm256_setzero_pd();
    // The rows of taps are a loop of their own: unrolled whole, the compiler
    // loads every tap ahead and runs out of registers.
#pragma GCC unroll 1
    for (int ky = 0; ky < 4; ++ky) {
        const int64_t row = int64_t(ky) * stride;
#pragma GCC unroll 4
        for (int kx = 0; kx < 4; ++kx) {
#pragma GCC unroll 8
            for (int k = 0; k < N; ++k) {
                const __m256d v = Wide ? _mm256_loadu_pd(dw[k] + row + kx * 4) : TapValue(dp[k], row + kx * 4);
                sum[k] = _mm256_add_pd(sum[k], _mm256_mul_pd(_mm256_broadcast_sd(wk[k] + (ky * 4 + kx) * Block), v));
            }
        }
    }
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) StoreSample(sum[k], out[k]);
}

// A sample whose taps cross the source's border: the taps outside get weight
// 0 (and read a pixel inside). The reference leaves such taps out; adding 0 to
// a sum changes nothing (the sums start at +0 and never become -0).
template <bool Wide>
inline void BorderSample(const SourceView& src, const double* w, int32_t iu, int32_t iv, int p, uint16_t* out) {
    __m256d sum = _mm256_setzero_pd();
    for (int ky = 0; ky < 4; ++ky) {
        const int32_t y = iv - 1 + ky;
        const bool rowIn = y >= 0 && y < src.H;
        const int64_t row = int64_t(y < 0 ? 0 : y >= src.H ? src.H - 1 : y) * src.Stride;
        for (int kx = 0; kx < 4; ++kx) {
            const int32_t x = iu - 1 + kx;
            const bool in = rowIn && x >= 0 && x < src.W;
            const int64_t i = row + int64_t(x < 0 ? 0 : x >= src.W ? src.W - 1 : x) * 4;
            const __m256d v = Wide ? _mm256_loadu_pd(src.Wide + i) : TapValue(src.Px, i);
            const __m256d wt = in ? _mm256_broadcast_sd(w + (ky * 4 + kx) * Block + p) : _mm256_setzero_pd();
            sum = _mm256_add_pd(sum, _mm256_mul_pd(wt, v));
        }
    }
    StoreSample(sum, out);
}

template <bool Wide>
void SplineRowOf(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1, uint16_t* out) {
    static const Basis8 basis = MakeBasis8();
    const float dy = (float(j) - rs.Cdy) * rs.Ay;
    const float dys = dy * rs.S, dyc = dy * rs.C;
    // A sample's taps lie inside the source when 1 <= iu <= W - 3 and 1 <= iv <= H - 3.
    const __m256i zero = _mm256_setzero_si256();
    const __m256i uEnd = _mm256_set1_epi32(src.W - 2), vEnd = _mm256_set1_epi32(src.H - 2);
    alignas(32) float wx[4][8], wy[4][8];
    alignas(32) double w[16 * Block];
    alignas(32) int32_t iu[Block], iv[Block];
    for (int32_t b0 = c0; b0 < c1; b0 += Block) {
        const int bn = c1 - b0 < Block ? int(c1 - b0) : Block;
        uint16_t* px = out + std::size_t(b0 - c0) * 4;
        // Every pixel starts transparent black: those outside the source, and
        // those whose taps are all clear, stay so; the rest are sampled below.
        __builtin_memset(px, 0, std::size_t(bn) * 8);
        int inner[Block], count = 0, border[Block], borders = 0;
        for (int q = 0; q < bn; q += 8) {
            const int n = bn - q < 8 ? bn - q : 8;
            const Positions8 pos = MapEight(rs, dys, dyc, b0 + q);
            const __m256i iu8 = _mm256_cvttps_epi32(pos.U), iv8 = _mm256_cvttps_epi32(pos.V);
            _mm256_store_si256(reinterpret_cast<__m256i*>(iu + q), iu8);
            _mm256_store_si256(reinterpret_cast<__m256i*>(iv + q), iv8);
            unsigned drawn = unsigned(pos.Inside) & ((1u << n) - 1u);
            if (drawn && src.Clear) {
                // The clear bytes of the pixels inside, gathered (the map has
                // three bytes of padding for the four-byte reads).
                const __m256i bits = _mm256_and_si256(_mm256_set1_epi32(int32_t(drawn)),
                                                      _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128));
                const __m256i mask = _mm256_cmpgt_epi32(bits, zero);
                const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(iv8, _mm256_set1_epi32(src.W)), iu8);
                const __m256i bytes = _mm256_mask_i32gather_epi32(zero, reinterpret_cast<const int*>(src.Clear), at,
                                                                  mask, 1);
                const __m256i clear = _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF));
                drawn &= ~unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(clear, zero))));
            }
            if (!drawn) continue;
            const __m256i in = _mm256_and_si256(
                _mm256_and_si256(_mm256_cmpgt_epi32(iu8, zero), _mm256_cmpgt_epi32(uEnd, iu8)),
                _mm256_and_si256(_mm256_cmpgt_epi32(iv8, zero), _mm256_cmpgt_epi32(vEnd, iv8)));
            const unsigned innerBits = unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(in))) & drawn;
            // Without branches: how many pixels are inner differs from chunk to chunk.
#pragma GCC unroll 8
            for (int p = 0; p < 8; ++p) {
                inner[count] = q + p;
                count += int((innerBits >> p) & 1u);
            }
            for (unsigned m = drawn & ~innerBits; m; m &= m - 1) border[borders++] = q + __builtin_ctz(m);
            Weights8(basis, _mm256_sub_ps(pos.U, _mm256_cvtepi32_ps(iu8)), wx);
            Weights8(basis, _mm256_sub_ps(pos.V, _mm256_cvtepi32_ps(iv8)), wy);
            TapWeights8(wx, wy, w, q);
        }
        for (int k = 0; k < borders; ++k) {
            const int p = border[k];
            BorderSample<Wide>(src, w, iu[p], iv[p], p, px + p * 4);
        }
        int64_t at[Block];
        uint16_t* dst[Block];
        for (int k = 0; k < count; ++k) {
            const int p = inner[k];
            at[k] = int64_t(iv[p] - 1) * src.Stride + int64_t(iu[p] - 1) * 4;
            dst[k] = px + p * 4;
        }
        int k = 0;
        for (; k + SplineGroup <= count; k += SplineGroup)
            InnerSamples<Wide, SplineGroup>(src, w, at + k, inner + k, dst + k);
        if (SplineGroup > 4 && k + 4 <= count) {
            InnerSamples<Wide, 4>(src, w, at + k, inner + k, dst + k);
            k += 4;
        }
        if (k + 2 <= count) {
            InnerSamples<Wide, 2>(src, w, at + k, inner + k, dst + k);
            k += 2;
        }
        if (k < count) InnerSamples<Wide, 1>(src, w, at + k, inner + k, dst + k);
    }
}

}  // namespace

void SplineRowAvx2(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                   uint16_t* out) {
    if (src.W <= 0 || src.H <= 0 || src.Px == nullptr) {
        for (int32_t i = c0; i < c1; ++i, out += 4) out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    if (src.Wide)
        SplineRowOf<true>(src, rs, j, c0, c1, out);
    else
        SplineRowOf<false>(src, rs, j, c0, c1, out);
}

void NearestRowAvx2(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                    uint16_t* out) {
    if (src.W <= 0 || src.H <= 0 || src.Px == nullptr) {
        for (int32_t i = c0; i < c1; ++i, out += 4) out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    const float dy = (float(j) - rs.Cdy) * rs.Ay;
    const float dys = dy * rs.S, dyc = dy * rs.C;
    alignas(32) int32_t iu[8], iv[8];
    for (int32_t i0 = c0; i0 < c1; i0 += 8) {
        const int32_t n = c1 - i0 < 8 ? c1 - i0 : 8;
        const Positions8 pos = MapEight(rs, dys, dyc, i0);
        _mm256_store_si256(reinterpret_cast<__m256i*>(iu), _mm256_cvttps_epi32(pos.U));
        _mm256_store_si256(reinterpret_cast<__m256i*>(iv), _mm256_cvttps_epi32(pos.V));
        uint64_t* px = reinterpret_cast<uint64_t*>(out + std::size_t(i0 - c0) * 4);
        for (int32_t p = 0; p < n; ++p) {
            uint64_t value = 0;
            if ((pos.Inside >> p) & 1)
                __builtin_memcpy(&value, src.Px + int64_t(iv[p]) * src.Stride + int64_t(iu[p]) * 4, 8);
            __builtin_memcpy(px + p, &value, 8);
        }
    }
}

void TintRowAvx2(uint16_t* px, int32_t n, const TintWords& tint) {
    const __m256i keep = _mm256_set1_epi16(int16_t(tint.Keep));
    const __m256i add = _mm256_setr_epi16(int16_t(tint.Add[0]), int16_t(tint.Add[1]), int16_t(tint.Add[2]), 0,
                                          int16_t(tint.Add[0]), int16_t(tint.Add[1]), int16_t(tint.Add[2]), 0,
                                          int16_t(tint.Add[0]), int16_t(tint.Add[1]), int16_t(tint.Add[2]), 0,
                                          int16_t(tint.Add[0]), int16_t(tint.Add[1]), int16_t(tint.Add[2]), 0);
    int32_t p = 0;
    for (; p + 4 <= n; p += 4, px += 16) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px));
        const __m256i t = _mm256_add_epi16(_mm256_mulhi_epu16(x, keep), add);
        // Words 3 and 7 of each half are alpha: kept as they were.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(px), _mm256_blend_epi16(t, x, 0x88));
    }
    for (; p < n; ++p, px += 4)
        for (int ch = 0; ch < 3; ++ch) px[ch] = uint16_t(((px[ch] * uint32_t(tint.Keep)) >> 16) + tint.Add[ch]);
}

void BlendRowAvx2(uint16_t* out, const uint16_t* P, int32_t n, uint32_t F, uint32_t M) {
    const __m256i f = _mm256_set1_epi16(int16_t(F)), m = _mm256_set1_epi16(int16_t(M));
    const __m256i full = _mm256_set1_epi16(-1);
    int32_t p = 0;
    for (; p + 4 <= n; p += 4, out += 16, P += 16) {
        const __m256i part = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(P));
        const __m256i bg = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out));
        // Each pixel's alpha in all four of its words.
        const __m256i A = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(part, 0xFF), 0xFF);
        const __m256i Ap = _mm256_sub_epi16(A, _mm256_mulhi_epu16(A, f));
        // W = ((M * A') >> 16) - A' + 65535, which lies in 0..65535.
        const __m256i W = _mm256_sub_epi16(full, _mm256_sub_epi16(Ap, _mm256_mulhi_epu16(m, Ap)));
        const __m256i res = _mm256_adds_epu16(_mm256_mulhi_epu16(bg, W), _mm256_mulhi_epu16(part, Ap));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), res);
    }
    for (; p < n; ++p, out += 4, P += 4) {
        const uint32_t A = P[3];
        const uint32_t Ap = A - ((A * F) >> 16);
        const uint32_t W = ((M * Ap) >> 16) - Ap + 65535u;
        for (int ch = 0; ch < 4; ++ch) {
            const uint32_t v = ((out[ch] * W) >> 16) + ((uint32_t(P[ch]) * Ap) >> 16);
            out[ch] = uint16_t(v > 65535u ? 65535u : v);
        }
    }
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const PixelKernels Avx2Kernels = {&SplineRowAvx2, &NearestRowAvx2, &TintRowAvx2, &BlendRowAvx2};
