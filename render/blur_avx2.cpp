// The blur's running box pass for processors with AVX2: the four words of a
// pixel in the four 64-bit lanes, with the plain version's arithmetic lane by
// lane (the box sum held in 64 bits gives the same value as the plain
// version's modular 32-bit one, as the true sum fits in 32 bits). The product
// by the reciprocal, below 2^57, is made of two 32 x 32-bit products.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "render/blur_pass.h"

// The functions below are built for avx2 (GCC's target pragma, or
// clang's attribute applied to every function of the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace {

inline __m256i Load4(const uint32_t* p) {
    return _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

}  // namespace

void BoxRunAvx2(const uint32_t* in, uint32_t* out, int32_t nlo, int32_t nhi, int32_t r, uint32_t edge, uint64_t mul) {
    __m256i box = _mm256_setzero_si256();
    for (int64_t j = int64_t(nlo) - r; j <= int64_t(nlo) + r; ++j) box = _mm256_add_epi64(box, Load4(in + j * 4));
    const uint32_t* leave = in + (int64_t(nlo) - r) * 4;
    const uint32_t* enter = in + (int64_t(nlo) + r + 1) * 4;
    const uint32_t* left = in + (int64_t(nlo) - r - 1) * 4;
    const __m256i edgeWeight = _mm256_set1_epi64x(int64_t(edge));
    const __m256i reciprocal = _mm256_set1_epi64x(int64_t(mul));
    const __m256i half = _mm256_set1_epi64x(int64_t(1) << 39);
    const __m256i lowWords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    uint32_t* o = out + std::size_t(nlo) * 4;
    for (int32_t i = nlo; i < nhi; ++i, leave += 4, enter += 4, left += 4, o += 4) {
        const __m256i in4 = Load4(enter);
        const __m256i ends = _mm256_add_epi64(Load4(left), in4);
        const __m256i sum = _mm256_add_epi64(_mm256_slli_epi64(box, 8), _mm256_mul_epu32(ends, edgeWeight));
        const __m256i product = _mm256_add_epi64(
            _mm256_mul_epu32(sum, reciprocal),
            _mm256_slli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(sum, 32), reciprocal), 32));
        const __m256i q = _mm256_srli_epi64(_mm256_add_epi64(product, half), 40);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(q, lowWords)));
        box = _mm256_add_epi64(box, _mm256_sub_epi64(in4, Load4(leave)));
    }
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
