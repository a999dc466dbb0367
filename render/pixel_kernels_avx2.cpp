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
#include <climits>
#include <cstdint>
#include <type_traits>

#include "render/pixel_kernels.h"

// The functions below are built for avx2 (GCC's target pragma, or
// clang's attribute applied to every function of the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "render/row_map.h"

namespace {

// A row is sampled in blocks of this many pixels: positions, weights and the
// lists of pixels to sample are made for a whole block, so that the samples
// can be taken several side by side.
constexpr int Block = 32;
// Inner samples taken side by side.
constexpr int SplineGroup = 4;

// The tap weights of eight pixels as doubles, wy[ky] * wx[kx] for tap
// ky * 4 + kx (exact: a product of two floats fits a double), into columns
// q .. q + 7 of w (tap t's weights at w[t * Block]).
inline void TapWeights8(const __m256 wx[4], const __m256 wy[4], double* w, int q) {
    __m256d xlo[4], xhi[4];
    for (int kx = 0; kx < 4; ++kx) {
        xlo[kx] = _mm256_cvtps_pd(_mm256_castps256_ps128(wx[kx]));
        xhi[kx] = _mm256_cvtps_pd(_mm256_extractf128_ps(wx[kx], 1));
    }
    for (int ky = 0; ky < 4; ++ky) {
        const __m256d ylo = _mm256_cvtps_pd(_mm256_castps256_ps128(wy[ky]));
        const __m256d yhi = _mm256_cvtps_pd(_mm256_extractf128_ps(wy[ky], 1));
        for (int kx = 0; kx < 4; ++kx) {
            double* col = w + (ky * 4 + kx) * Block + q;
            _mm256_store_pd(col, _mm256_mul_pd(ylo, xlo[kx]));
            _mm256_store_pd(col + 4, _mm256_mul_pd(yhi, xhi[kx]));
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

// A block's pixels as the samples read them: the weights of each tap (tap t
// of pixel p at W[t * Block + p]), the byte offset of each pixel's first tap
// in the source's values, and the pixels' source positions (kept for the
// samples that cross the border).
struct BlockTaps {
    alignas(32) double W[16 * Block];
    alignas(32) int64_t First[Block];
    alignas(32) int32_t Iu[Block], Iv[Block];
};

// The sixteen taps of N samples whose taps all lie inside the source, taken
// side by side so that their chains of additions overlap. p[k]: sample k's
// pixel in the block.
template <bool Wide, int N>
inline void InnerSamples(const SourceView& src, const BlockTaps& b, const int* p, uint16_t* px) {
    using Value = std::conditional_t<Wide, double, uint16_t>;
    const char* base = Wide ? reinterpret_cast<const char*>(src.Wide) : reinterpret_cast<const char*>(src.Px);
    // Each sample's own pointers to its first tap and first weight, in locals
    // (the stores below could otherwise alias them and force reloads).
    const double* wk[N];
    const Value* dk[N];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
        wk[k] = b.W + p[k];
        dk[k] = reinterpret_cast<const Value*>(base + b.First[p[k]]);
    }
    const int64_t stride = Wide ? src.WideStride : src.Stride;
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
                const __m256d v = Wide ? _mm256_loadu_pd(reinterpret_cast<const double*>(dk[k]) + row + kx * 4)
                                       : TapValue(reinterpret_cast<const uint16_t*>(dk[k]), row + kx * 4);
                sum[k] = _mm256_add_pd(sum[k], _mm256_mul_pd(_mm256_broadcast_sd(wk[k] + (ky * 4 + kx) * Block), v));
            }
        }
    }
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) StoreSample(sum[k], px + p[k] * 4);
}

// A sample whose taps cross the source's border, from the 16-bit values (the
// doubles have a frame instead): the taps outside get weight 0 (and read a
// pixel inside). The reference leaves such taps out; adding 0 to a sum changes
// nothing (the sums start at +0 and never become -0).
inline void BorderSample(const SourceView& src, const double* w, int32_t iu, int32_t iv, uint16_t* out) {
    __m256d sum = _mm256_setzero_pd();
    for (int ky = 0; ky < 4; ++ky) {
        const int32_t y = iv - 1 + ky;
        const bool rowIn = y >= 0 && y < src.H;
        const int64_t row = int64_t(y < 0 ? 0 : y >= src.H ? src.H - 1 : y) * src.Stride;
        for (int kx = 0; kx < 4; ++kx) {
            const int32_t x = iu - 1 + kx;
            const bool in = rowIn && x >= 0 && x < src.W;
            const int64_t i = row + int64_t(x < 0 ? 0 : x >= src.W ? src.W - 1 : x) * 4;
            const __m256d v = TapValue(src.Px, i);
            const __m256d wt = in ? _mm256_broadcast_sd(w + (ky * 4 + kx) * Block) : _mm256_setzero_pd();
            sum = _mm256_add_pd(sum, _mm256_mul_pd(wt, v));
        }
    }
    StoreSample(sum, out);
}

// The byte offsets of four samples' first taps, (iv - 1) * stride + (iu - 1) * 4
// values in, as 64-bit lanes.
inline __m256i FirstTaps4(__m128i iu, __m128i iv, __m256i stride, int shift) {
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i u = _mm256_sub_epi64(_mm256_cvtepi32_epi64(iu), one);
    const __m256i v = _mm256_sub_epi64(_mm256_cvtepi32_epi64(iv), one);
    const __m256i at = _mm256_add_epi64(_mm256_mul_epi32(v, stride), _mm256_slli_epi64(u, 2));
    return _mm256_sll_epi64(at, _mm_cvtsi32_si128(shift));
}

template <bool Wide>
void SplineRowOf(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1, uint16_t* out) {
    static const Basis8 basis = MakeBasis8();
    const float dy = (float(j) - rs.Cdy) * rs.Ay;
    const RowMap map(rs, dy * rs.S, dy * rs.C);
    // A sample's taps lie inside the source when 1 <= iu <= W - 3 and 1 <= iv <= H - 3.
    const __m256i zero = _mm256_setzero_si256();
    const __m256i uEnd = _mm256_set1_epi32(src.W - 2), vEnd = _mm256_set1_epi32(src.H - 2);
    const __m256i width = _mm256_set1_epi32(src.W);
    const __m256i stride = _mm256_set1_epi64x(Wide ? src.WideStride : src.Stride);
    const int shift = Wide ? 3 : 1;  // values to bytes
    BlockTaps b;
    for (int32_t b0 = c0; b0 < c1; b0 += Block) {
        const int bn = c1 - b0 < Block ? int(c1 - b0) : Block;
        uint16_t* px = out + std::size_t(b0 - c0) * 4;
        // Every pixel starts transparent black: those outside the source, and
        // those whose taps are all clear, stay so; the rest are sampled below.
        __builtin_memset(px, 0, std::size_t(bn) * 8);
        int inner[Block], count = 0, border[Block], borders = 0;
        for (int q = 0; q < bn; q += 8) {
            const int n = bn - q < 8 ? bn - q : 8;
            const Positions8 pos = MapEight(map, b0 + q);
            const __m256i iu8 = _mm256_cvttps_epi32(pos.U), iv8 = _mm256_cvttps_epi32(pos.V);
            unsigned drawn = unsigned(pos.Inside) & ((1u << n) - 1u);
            if (drawn && src.Clear) {
                // The clear bytes of the pixels inside, gathered (the map has
                // three bytes of padding for the four-byte reads).
                const __m256i bits = _mm256_and_si256(_mm256_set1_epi32(int32_t(drawn)),
                                                      _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128));
                const __m256i mask = _mm256_cmpgt_epi32(bits, zero);
                const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(iv8, width), iu8);
                const __m256i bytes = _mm256_mask_i32gather_epi32(zero, reinterpret_cast<const int*>(src.Clear), at,
                                                                  mask, 1);
                const __m256i clear = _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF));
                drawn &= ~unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(clear, zero))));
            }
            if (!drawn) continue;
            const __m256i in = _mm256_and_si256(
                _mm256_and_si256(_mm256_cmpgt_epi32(iu8, zero), _mm256_cmpgt_epi32(uEnd, iu8)),
                _mm256_and_si256(_mm256_cmpgt_epi32(iv8, zero), _mm256_cmpgt_epi32(vEnd, iv8)));
            // The doubles have their frame of zeros: every sample reads them as inner.
            const unsigned innerBits = Wide ? drawn : unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(in))) & drawn;
            // Without branches: how many pixels are inner differs from chunk to chunk.
#pragma GCC unroll 8
            for (int p = 0; p < 8; ++p) {
                inner[count] = q + p;
                count += int((innerBits >> p) & 1u);
            }
            const unsigned borderBits = drawn & ~innerBits;
            if (borderBits) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(b.Iu + q), iu8);
                _mm256_store_si256(reinterpret_cast<__m256i*>(b.Iv + q), iv8);
                for (unsigned m = borderBits; m; m &= m - 1) border[borders++] = q + __builtin_ctz(m);
            }
            _mm256_store_si256(reinterpret_cast<__m256i*>(b.First + q),
                               FirstTaps4(_mm256_castsi256_si128(iu8), _mm256_castsi256_si128(iv8), stride, shift));
            _mm256_store_si256(reinterpret_cast<__m256i*>(b.First + q + 4),
                               FirstTaps4(_mm256_extracti128_si256(iu8, 1), _mm256_extracti128_si256(iv8, 1), stride,
                                          shift));
            __m256 wx[4], wy[4];
            Weights8(basis, _mm256_sub_ps(pos.U, _mm256_cvtepi32_ps(iu8)), wx);
            Weights8(basis, _mm256_sub_ps(pos.V, _mm256_cvtepi32_ps(iv8)), wy);
            TapWeights8(wx, wy, b.W, q);
        }
        for (int k = 0; k < borders; ++k) {
            const int p = border[k];
            BorderSample(src, b.W + p, b.Iu[p], b.Iv[p], px + p * 4);
        }
        int k = 0;
        for (; k + SplineGroup <= count; k += SplineGroup) InnerSamples<Wide, SplineGroup>(src, b, inner + k, px);
        if (k + 2 <= count) {
            InnerSamples<Wide, 2>(src, b, inner + k, px);
            k += 2;
        }
        if (k < count) InnerSamples<Wide, 1>(src, b, inner + k, px);
    }
}

}  // namespace

void SplineRowAvx2(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                   uint16_t* out) {
    if (src.W <= 0 || src.H <= 0 || src.Px == nullptr) {
        for (int32_t i = c0; i < c1; ++i, out += 4) out[0] = out[1] = out[2] = out[3] = 0;
        return;
    }
    // The vector code works out offsets in 32-bit lanes: sources too large
    // for them (none that fits in memory today) take the generic kernel.
    if (src.Stride > INT32_MAX || src.WideStride > INT32_MAX || int64_t(src.W) * src.H > INT32_MAX) {
        GenericKernels.SplineRow(src, rs, j, c0, c1, out);
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
    const RowMap map(rs, dy * rs.S, dy * rs.C);
    alignas(32) int32_t iu[8], iv[8];
    for (int32_t i0 = c0; i0 < c1; i0 += 8) {
        const int32_t n = c1 - i0 < 8 ? c1 - i0 : 8;
        const Positions8 pos = MapEight(map, i0);
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
