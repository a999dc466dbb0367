// The compositing kernels for processors with AVX-512 (F, BW, VL, DQ). Only the
// functions below are built for it (the target pragma starts after the
// includes), and only called when the processor has it.
//
// Tint and blend work in 16-bit lanes, eight pixels at once, with masked loads
// and stores for a row's last pixels. The nearest-pixel sampling keeps the
// AVX2 kernel, which every such processor runs; so does the spline for a
// source without its doubles.
//
// The spline from the doubles makes each sample's sums quickly and then
// checks them. The fast sums take the taps two pixels at a time (the eight
// doubles of two neighbouring taps in one register), row by row with fused
// multiply-adds; they are not the generic code's sums, but they lie within
// SumSlack of them. What is stored is a whole number: each channel's sum
// limited to 0..65535 and cut to an integer, a step function of the sum. When
// the step function gives the same word at both ends of the interval of width
// 2 * SumSlack around the fast sum, the generic sum, which lies inside it,
// gives that word too, and it is stored. Otherwise (a sum within SumSlack of
// a whole number, which happens mostly where the source is flat) the sample is
// made again the generic way, the same products added in the same order. The
// stored words are the generic code's in every case.
#include <immintrin.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "render/pixel_kernels.h"

// The functions below are built for avx2, fma, avx512f, avx512bw, avx512vl, avx512dq (GCC's target pragma, or
// clang's attribute applied to every function of the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,avx512dq"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma,avx512f,avx512bw,avx512vl,avx512dq")
// GCC 12's AVX-512 intrinsics start their results from an undefined vector,
// which it then warns of as (possibly) uninitialized (fixed in GCC 13).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include "render/row_map.h"

namespace {

// Mask of the words of the first n pixels (n from 0 to 8).
inline __mmask32 PixelMask(int32_t n) { return n >= 8 ? ~__mmask32(0) : (__mmask32(1) << (n * 4)) - 1; }

void TintRowAvx512(uint16_t* px, int32_t n, const TintWords& tint) {
    const __m512i keep = _mm512_set1_epi16(int16_t(tint.Keep));
    const __m512i add = _mm512_set1_epi64(int64_t(uint64_t(tint.Add[0]) | uint64_t(tint.Add[1]) << 16 |
                                                  uint64_t(tint.Add[2]) << 32));
    // Every fourth word is alpha: kept as it was.
    const __mmask32 colour = 0x77777777u;
    for (int32_t p = 0; p < n; p += 8, px += 32) {
        const __mmask32 m = PixelMask(n - p) & colour;
        const __m512i x = _mm512_maskz_loadu_epi16(m, px);
        const __m512i t = _mm512_add_epi16(_mm512_mulhi_epu16(x, keep), add);
        _mm512_mask_storeu_epi16(px, m, t);
    }
}

void BlendRowAvx512(uint16_t* out, const uint16_t* P, int32_t n, uint32_t F, uint32_t M) {
    const __m512i f = _mm512_set1_epi16(int16_t(F)), m = _mm512_set1_epi16(int16_t(M));
    const __m512i full = _mm512_set1_epi16(-1);
    for (int32_t p = 0; p < n; p += 8, out += 32, P += 32) {
        const __mmask32 k = PixelMask(n - p);
        const __m512i part = _mm512_maskz_loadu_epi16(k, P);
        const __m512i bg = _mm512_maskz_loadu_epi16(k, out);
        // Each pixel's alpha in all four of its words.
        const __m512i A = _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(part, 0xFF), 0xFF);
        const __m512i Ap = _mm512_sub_epi16(A, _mm512_mulhi_epu16(A, f));
        // W = ((M * A') >> 16) - A' + 65535, which lies in 0..65535.
        const __m512i W = _mm512_sub_epi16(full, _mm512_sub_epi16(Ap, _mm512_mulhi_epu16(m, Ap)));
        const __m512i res = _mm512_adds_epu16(_mm512_mulhi_epu16(bg, W), _mm512_mulhi_epu16(part, Ap));
        _mm512_mask_storeu_epi16(out, k, res);
    }
}

// How far the fast sums of a sample may lie from the generic ones, with a wide
// margin. Both are sums of the 16 products w * v of a tap's weight (exact: a
// product of two floats) and a value v of 0..65535. The generic sum rounds at
// most 16 times on the way of each product. The fast one at most 7 times:
// the product with wy, three fused adds down the rows, the product with wx,
// one fused add, and the add of the two halves. So each lies within
// 16 * 2^-53 * sum |w * v| of the exact sum (to first order). The weights of
// one axis add up to at most 3 in absolute value (the most, at a fraction of
// -1), so sum |w * v| <= 9 * 65535, and the two sums lie within 2.7e-9 of each
// other; 2^-20 is 9.5e-7.
constexpr double SumSlack = 0x1p-20;

// A row is sampled in blocks of this many pixels: positions, weights and the
// list of pixels to sample are made for the whole block first, and the
// samples are then taken several side by side.
constexpr int Block = 64;

// A block's drawing data: each pixel's weights as doubles, the byte offset of
// its first tap in the doubles, and the pixels to sample.
struct BlockData {
    alignas(64) double Wx[4][Block];
    alignas(64) double Wy[4][Block];
    alignas(64) int32_t First[Block];
    alignas(64) int32_t List[Block + 16];  // room for a whole chunk's store at the end
};

// Pixel p's sample the generic way: each channel's sum of the products of the
// weight wy * wx and the value, row by row, left to right, from +0.
inline void OrderedSample(const char* base, int64_t stride, const BlockData& b, int p, uint16_t* out) {
    const double* d = reinterpret_cast<const double*>(base + b.First[p]);
    __m256d sum = _mm256_setzero_pd();
    for (int ky = 0; ky < 4; ++ky) {
        const __m256d wy = _mm256_set1_pd(b.Wy[ky][p]);
        for (int kx = 0; kx < 4; ++kx) {
            const __m256d w = _mm256_mul_pd(wy, _mm256_set1_pd(b.Wx[kx][p]));
            sum = _mm256_add_pd(sum, _mm256_mul_pd(w, _mm256_loadu_pd(d + ky * stride + kx * 4)));
        }
    }
    sum = _mm256_min_pd(_mm256_max_pd(sum, _mm256_setzero_pd()), _mm256_set1_pd(65535.0));
    const __m128i words = _mm256_cvttpd_epi32(sum);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi32(words, words));
}

// The fast sums of pixels p and q side by side. Each comes out as the four
// channels twice over: the low half holds the taps of columns 0 and 2, the
// high half those of 1 and 3. The taps of each pair of columns are first
// summed down the rows, weighted by wy, and then weighted by wx.
[[gnu::always_inline]] inline void FastSums(const char* base, int64_t stride, const BlockData& b, const int p[2],
                                            __m512d sums[2]) {
    const double* d[2];
    __m512d left[2], right[2];
    for (int k = 0; k < 2; ++k) {
        d[k] = reinterpret_cast<const double*>(base + b.First[p[k]]);
        const __m512d wy = _mm512_set1_pd(b.Wy[0][p[k]]);
        left[k] = _mm512_mul_pd(wy, _mm512_loadu_pd(d[k]));
        right[k] = _mm512_mul_pd(wy, _mm512_loadu_pd(d[k] + 8));
    }
#pragma GCC unroll 4
    for (int ky = 1; ky < 4; ++ky)
        for (int k = 0; k < 2; ++k) {
            const __m512d wy = _mm512_set1_pd(b.Wy[ky][p[k]]);
            left[k] = _mm512_fmadd_pd(wy, _mm512_loadu_pd(d[k] + ky * stride), left[k]);
            right[k] = _mm512_fmadd_pd(wy, _mm512_loadu_pd(d[k] + ky * stride + 8), right[k]);
        }
    for (int k = 0; k < 2; ++k) {
        const int q = p[k];
        const __m512d wa = _mm512_insertf64x4(_mm512_set1_pd(b.Wx[0][q]), _mm256_set1_pd(b.Wx[1][q]), 1);
        const __m512d wb = _mm512_insertf64x4(_mm512_set1_pd(b.Wx[2][q]), _mm256_set1_pd(b.Wx[3][q]), 1);
        sums[k] = _mm512_fmadd_pd(wb, right[k], _mm512_mul_pd(wa, left[k]));
    }
}

// Pixels p and q sampled: their fast sums made and checked, and the words
// they give stored; a sample whose check fails is made again the generic way.
[[gnu::always_inline]] inline void TwoSamples(const char* base, int64_t stride, const BlockData& b, const int p[2],
                                              uint16_t* px) {
    __m512d s[2];
    FastSums(base, stride, b, p, s);
    // The two halves of each added: p's sums in the low half, q's in the high.
    const __m512d sum = _mm512_add_pd(_mm512_shuffle_f64x2(s[0], s[1], 0x44), _mm512_shuffle_f64x2(s[0], s[1], 0xEE));
    const __m512d slack = _mm512_set1_pd(SumSlack);
    // When the ends of the interval cut to the same integer n, every sum in
    // it is stored as the same word: n limited to 0..65535 (for n = 0 the
    // interval lies within -1..1, where every sum is stored as 0).
    const __m256i low = _mm512_cvttpd_epi32(_mm512_sub_pd(sum, slack));
    const __m256i high = _mm512_cvttpd_epi32(_mm512_add_pd(sum, slack));
    const unsigned same = _mm256_cmpeq_epi32_mask(low, high);
    const __m128i words = _mm256_cvtusepi32_epi16(_mm256_max_epi32(low, _mm256_setzero_si256()));
    if (__builtin_expect((same & 0x0F) == 0x0F, 1))
        _mm_storel_epi64(reinterpret_cast<__m128i*>(px + p[0] * 4), words);
    else
        OrderedSample(base, stride, b, p[0], px + p[0] * 4);
    if (__builtin_expect((same & 0xF0) == 0xF0, 1))
        _mm_storeh_pd(reinterpret_cast<double*>(px + p[1] * 4), _mm_castsi128_pd(words));
    else
        OrderedSample(base, stride, b, p[1], px + p[1] * 4);
}

void SplineRowAvx512(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                     uint16_t* out) {
    // Without the doubles, or with byte offsets into them too large for 32-bit
    // lanes, the AVX2 kernel (which handles both).
    if (src.Wide == nullptr || src.W <= 0 || src.H <= 0 || src.Px == nullptr ||
        (int64_t(src.H) + 3) * src.WideStride * int64_t(sizeof(double)) > INT32_MAX) {
        SplineRowAvx2(src, rs, j, c0, c1, out);
        return;
    }
    static const Basis<Floats16> basis = MakeBasis<Floats16>();
    const float dy = (float(j) - rs.Cdy) * rs.Ay;
    const RowMapOf<Floats16> map(rs, dy * rs.S, dy * rs.C);
    const int64_t stride = src.WideStride;
    const __m512i strideValues = _mm512_set1_epi32(int32_t(stride));
    const __m512i ones = _mm512_set1_epi32(1);
    const __m512i width = _mm512_set1_epi32(src.W);
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512 minus1 = _mm512_set1_ps(-1.0f), right = _mm512_set1_ps(rs.Width), bottom = _mm512_set1_ps(rs.Height);
    const char* base = reinterpret_cast<const char*>(src.Wide);
    BlockData b;
    for (int32_t b0 = c0; b0 < c1; b0 += Block) {
        const int bn = c1 - b0 < Block ? int(c1 - b0) : Block;
        uint16_t* px = out + std::size_t(b0 - c0) * 4;
        int count = 0;
        for (int q = 0; q < bn; q += 16) {
            const int n = bn - q < 16 ? bn - q : 16;
            // Every pixel starts transparent black: those outside the source,
            // and those whose taps are all clear, stay so.
            _mm512_mask_storeu_epi16(px + q * 4, PixelMask(n), _mm512_setzero_si512());
            if (n > 8) _mm512_mask_storeu_epi16(px + q * 4 + 32, PixelMask(n - 8), _mm512_setzero_si512());
            const __m512i at = _mm512_add_epi32(_mm512_set1_epi32(b0 + q), lanes);
            Floats16 fu, fv;
            MapColumns(map, Floats16(_mm512_cvtepi32_ps(at)), fu, fv);
            const __m512 u = __m512(fu), v = __m512(fv);
            __mmask16 drawn = __mmask16(_mm512_cmp_ps_mask(u, minus1, _CMP_GT_OQ) &
                                        _mm512_cmp_ps_mask(u, right, _CMP_LT_OQ) &
                                        _mm512_cmp_ps_mask(v, minus1, _CMP_GT_OQ) &
                                        _mm512_cmp_ps_mask(v, bottom, _CMP_LT_OQ) & ((1u << n) - 1u));
            if (!drawn) continue;
            const __m512i iu = _mm512_cvttps_epi32(u), iv = _mm512_cvttps_epi32(v);
            if (src.Clear) {
                // The clear bytes of the pixels inside (the map has three
                // bytes of padding for the four-byte reads).
                const __m512i place = _mm512_add_epi32(_mm512_mullo_epi32(iv, width), iu);
                const __m512i bytes = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), drawn, place,
                                                                  reinterpret_cast<const int*>(src.Clear), 1);
                drawn = _mm512_mask_testn_epi32_mask(drawn, bytes, _mm512_set1_epi32(0xFF));
                if (!drawn) continue;
            }
            _mm512_storeu_si512(b.List + count,
                                _mm512_maskz_compress_epi32(drawn, _mm512_add_epi32(lanes, _mm512_set1_epi32(q))));
            count += __builtin_popcount(drawn);
            Floats16 wx[4], wy[4];
            SplineWeights(basis, Floats16(_mm512_sub_ps(u, _mm512_cvtepi32_ps(iu))), wx);
            SplineWeights(basis, Floats16(_mm512_sub_ps(v, _mm512_cvtepi32_ps(iv))), wy);
            for (int k = 0; k < 4; ++k) {
                _mm512_storeu_pd(b.Wx[k] + q, _mm512_cvtps_pd(_mm512_castps512_ps256(__m512(wx[k]))));
                _mm512_storeu_pd(b.Wx[k] + q + 8, _mm512_cvtps_pd(_mm512_extractf32x8_ps(__m512(wx[k]), 1)));
                _mm512_storeu_pd(b.Wy[k] + q, _mm512_cvtps_pd(_mm512_castps512_ps256(__m512(wy[k]))));
                _mm512_storeu_pd(b.Wy[k] + q + 8, _mm512_cvtps_pd(_mm512_extractf32x8_ps(__m512(wy[k]), 1)));
            }
            // The first tap, at (iu - 1, iv - 1): ((iv - 1) * stride + (iu - 1) * 4) doubles in.
            const __m512i first = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_sub_epi32(iv, ones), strideValues),
                                                   _mm512_slli_epi32(_mm512_sub_epi32(iu, ones), 2));
            _mm512_storeu_si512(b.First + q, _mm512_slli_epi32(first, 3));
        }
        // An odd list is padded with its last pixel, sampled twice.
        if (count == 0) continue;
        b.List[count] = b.List[count - 1];
        for (int k = 0; k < count; k += 2) TwoSamples(base, stride, b, b.List + k, px);
    }
}

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const PixelKernels Avx512Kernels = {&SplineRowAvx512, &NearestRowAvx2, &TintRowAvx512, &BlendRowAvx512};
