// The motion blur's sums of a row of draw pixels for processors with AVX2: the
// plain version's arithmetic (render/motion_blur.cpp), four pixels at a time.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "render/motion_blur.h"

// The functions below are built for avx2 (GCC's target pragma, or
// clang's attribute applied to every function of the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

int32_t AddPixelsAvx2(uint32_t* sums, uint32_t* alpha, const uint16_t* px, int32_t n, uint32_t F) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i f = _mm256_set1_epi16(int16_t(uint16_t(F)));
    const __m256i low = _mm256_set1_epi64x(0xFFFF);
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    int32_t c = 0;
    for (; c + 4 <= n; c += 4, px += 16, sums += 32, alpha += 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px));
        const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0xFF), 0xFF);
        const __m256i ap = _mm256_sub_epi16(a, _mm256_mulhi_epu16(a, f));  // A' = A - ((A * F) >> 16)
        const __m256i lo = _mm256_mullo_epi16(v, ap), hi = _mm256_mulhi_epu16(v, ap);
        // Widened, pixels 0 and 2 from the low words of each half, 1 and 3
        // from the high ones; each pixel's low sums then its high ones.
        const __m256i lo02 = _mm256_unpacklo_epi16(lo, zero), lo13 = _mm256_unpackhi_epi16(lo, zero);
        const __m256i hi02 = _mm256_unpacklo_epi16(hi, zero), hi13 = _mm256_unpackhi_epi16(hi, zero);
        __m256i* d = reinterpret_cast<__m256i*>(sums);
        _mm256_storeu_si256(d, _mm256_add_epi32(_mm256_loadu_si256(d), _mm256_permute2x128_si256(lo02, hi02, 0x20)));
        _mm256_storeu_si256(d + 1,
                            _mm256_add_epi32(_mm256_loadu_si256(d + 1), _mm256_permute2x128_si256(lo13, hi13, 0x20)));
        _mm256_storeu_si256(d + 2,
                            _mm256_add_epi32(_mm256_loadu_si256(d + 2), _mm256_permute2x128_si256(lo02, hi02, 0x31)));
        _mm256_storeu_si256(d + 3,
                            _mm256_add_epi32(_mm256_loadu_si256(d + 3), _mm256_permute2x128_si256(lo13, hi13, 0x31)));
        // Each pixel's A' alone in its 64 bits, then the four side by side.
        const __m128i aps =
            _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_and_si256(ap, low), evens));
        __m128i* s = reinterpret_cast<__m128i*>(alpha);
        _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), aps));
    }
    return c;
}

std::size_t FinishPixelsAvx2(uint32_t* sums, uint32_t* alpha, std::size_t count, uint32_t m, uint16_t* out) {
    const __m256i mul = _mm256_set1_epi64x(int64_t(m));
    const __m256i zero = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2, sums += 16, alpha += 2, out += 10) {
        __m256i* d = reinterpret_cast<__m256i*>(sums);
        const __m256i r0 = _mm256_loadu_si256(d), r1 = _mm256_loadu_si256(d + 1);
        // The low sums of both pixels, then their high sums; T = high + (low >> 16).
        const __m256i lo = _mm256_permute2x128_si256(r0, r1, 0x20), hi = _mm256_permute2x128_si256(r0, r1, 0x31);
        const __m256i T = _mm256_add_epi32(hi, _mm256_srli_epi32(lo, 16));
        // (T * m) >> 32 in each 32-bit lane: the even lanes' products shifted
        // down, the odd lanes' taken in their upper halves.
        const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(T, mul), 32);
        const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(T, 32), mul);
        const __m256i words = _mm256_packus_epi32(_mm256_blend_epi32(even, odd, 0xAA), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(words));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 5), _mm256_extracti128_si256(words, 1));
        out[4] = uint16_t((uint64_t(alpha[0]) * m) >> 32);
        out[9] = uint16_t((uint64_t(alpha[1]) * m) >> 32);
        _mm256_storeu_si256(d, zero);
        _mm256_storeu_si256(d + 1, zero);
        alpha[0] = alpha[1] = 0;
    }
    return i;
}

int32_t BlendPremultipliedAvx2(uint16_t* out, const uint16_t* q, int32_t n, uint32_t M) {
    int32_t p = 0;
    for (; p + 4 <= n; p += 4, out += 16, q += 20) {
        // The four pixels' words side by side (the fifth of each left out),
        // and each pixel's W = ((M * A) >> 16) - A + 65535 in its four words.
        const __m128i q01 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 5)));
        const __m128i q23 = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 10)),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 15)));
        const __m256i add = _mm256_inserti128_si256(_mm256_castsi128_si256(q01), q23, 1);
        const __m256i a = _mm256_setr_epi16(int16_t(q[4]), int16_t(q[4]), int16_t(q[4]), int16_t(q[4]),
                                            int16_t(q[9]), int16_t(q[9]), int16_t(q[9]), int16_t(q[9]),
                                            int16_t(q[14]), int16_t(q[14]), int16_t(q[14]), int16_t(q[14]),
                                            int16_t(q[19]), int16_t(q[19]), int16_t(q[19]), int16_t(q[19]));
        const __m256i w = _mm256_sub_epi16(_mm256_set1_epi16(-1),
                                           _mm256_sub_epi16(a, _mm256_mulhi_epu16(_mm256_set1_epi16(int16_t(M)), a)));
        __m256i* o = reinterpret_cast<__m256i*>(out);
        _mm256_storeu_si256(o, _mm256_adds_epu16(_mm256_mulhi_epu16(_mm256_loadu_si256(o), w), add));
    }
    return p;
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
