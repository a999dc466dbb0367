// The compositing kernels for processors with AVX-512 (F, BW, VL, DQ). Only the
// functions below are built for it (the target pragma starts after the
// includes), and only called when the processor has it.
//
// Tint and blend work in 16-bit lanes, eight pixels at once, with masked loads
// and stores for a row's last pixels. Sampling keeps the AVX2 kernels, which
// every such processor runs.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "render/pixel_kernels.h"

// The functions below are built for avx2, avx512f, avx512bw, avx512vl, avx512dq (GCC's target pragma, or
// clang's attribute applied to every function of the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw,avx512vl,avx512dq")
#endif

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

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const PixelKernels Avx512Kernels = {&SplineRowAvx2, &NearestRowAvx2, &TintRowAvx512, &BlendRowAvx512};
