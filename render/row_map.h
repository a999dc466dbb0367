#pragma once
// The first steps of sampling a picture row, several pixels at a time: where
// each pixel falls in the source and the spline weights of its fractions, with
// the same single-precision operations in the same order as the generic code.
// Eight pixels in AVX2 registers (the AVX2 kernels), and the same steps for a
// vector of any width in GCC's vector arithmetic (the AVX-512 kernels take 16
// pixels at a time). Internal linkage, and no target of its own: include it
// inside a region built for AVX2 (or more), after the other includes.
#include <immintrin.h>

#include <cstdint>

#include "render/pixel_kernels.h"
#include "render/resample_core.h"

namespace {

// The spline's basis rows (BSplineBasis) as vectors.
struct Basis8 {
    __m256 K[4][4];
};

inline Basis8 MakeBasis8() {
    Basis8 basis;
    for (int k = 0; k < 4; ++k)
        for (int n = 0; n < 4; ++n) basis.K[k][n] = _mm256_set1_ps(BSplineBasis[k][n]);
    return basis;
}

// Positions of eight consecutive picture pixels of one row in the source.
struct Positions8 {
    __m256 U, V;
    int Inside;  // bit p: pixel p maps inside the source
};

// The mapping of one picture row, as vectors made once per row.
struct RowMap {
    __m256 Cdx, Ax, C, S, Kxa, Kya, Csx, Csy, Fx, Fy, Width, Height, Dys, Dyc;
    RowMap(const ResampleSetup& rs, float dys, float dyc)
        : Cdx(_mm256_set1_ps(rs.Cdx)), Ax(_mm256_set1_ps(rs.Ax)), C(_mm256_set1_ps(rs.C)), S(_mm256_set1_ps(rs.S)),
          Kxa(_mm256_set1_ps(rs.Kxa)), Kya(_mm256_set1_ps(rs.Kya)), Csx(_mm256_set1_ps(rs.Csx)),
          Csy(_mm256_set1_ps(rs.Csy)), Fx(_mm256_set1_ps(rs.Fx)), Fy(_mm256_set1_ps(rs.Fy)),
          Width(_mm256_set1_ps(rs.Width)), Height(_mm256_set1_ps(rs.Height)), Dys(_mm256_set1_ps(dys)),
          Dyc(_mm256_set1_ps(dyc)) {}
};

inline Positions8 MapEight(const RowMap& m, int32_t i0) {
    const __m256 fi =
        _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(i0), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m256 dx = _mm256_mul_ps(_mm256_sub_ps(fi, m.Cdx), m.Ax);
    Positions8 pos;
    // u = (dx * c + dy * s) * kxa + csx - fx;  v = (dy * c - dx * s) * kya + csy - fy
    pos.U = _mm256_sub_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(dx, m.C), m.Dys), m.Kxa), m.Csx), m.Fx);
    pos.V = _mm256_sub_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(m.Dyc, _mm256_mul_ps(dx, m.S)), m.Kya), m.Csy), m.Fy);
    const __m256 minus1 = _mm256_set1_ps(-1.0f);
    const __m256 in = _mm256_and_ps(
        _mm256_and_ps(_mm256_cmp_ps(pos.U, minus1, _CMP_GT_OQ), _mm256_cmp_ps(pos.U, m.Width, _CMP_LT_OQ)),
        _mm256_and_ps(_mm256_cmp_ps(pos.V, minus1, _CMP_GT_OQ), _mm256_cmp_ps(pos.V, m.Height, _CMP_LT_OQ)));
    pos.Inside = _mm256_movemask_ps(in);
    return pos;
}

// w[k] = b[k][0] + b[k][1] * t + b[k][2] * t^2 + b[k][3] * t^3, eight fractions at once.
inline void Weights8(const Basis8& basis, __m256 t, __m256 w[4]) {
    const __m256 t2 = _mm256_mul_ps(t, t);
    const __m256 t3 = _mm256_mul_ps(t2, t);
    for (int k = 0; k < 4; ++k)
        w[k] = _mm256_add_ps(
            _mm256_add_ps(_mm256_add_ps(basis.K[k][0], _mm256_mul_ps(basis.K[k][1], t)), _mm256_mul_ps(basis.K[k][2], t2)),
            _mm256_mul_ps(basis.K[k][3], t3));
}

// The same steps for vectors of any width, in GCC's vector arithmetic: each
// operator is the one IEEE operation per lane, never fused.

// Sixteen floats (the intrinsics' own type carries an attribute that template
// arguments drop).
typedef float Floats16 __attribute__((vector_size(64)));

// A vector of floats with every lane x.
template <typename V>
[[gnu::always_inline]] inline V Splat(float x) {
    V v = {};
    for (unsigned k = 0; k < sizeof(V) / sizeof(float); ++k) v[k] = x;
    return v;
}

// The spline's basis rows (BSplineBasis) as vectors.
template <typename V>
struct Basis {
    V K[4][4];
};

template <typename V>
inline Basis<V> MakeBasis() {
    Basis<V> basis;
    for (int k = 0; k < 4; ++k)
        for (int n = 0; n < 4; ++n) basis.K[k][n] = Splat<V>(BSplineBasis[k][n]);
    return basis;
}

// The mapping of one picture row, as vectors made once per row.
template <typename V>
struct RowMapOf {
    V Cdx, Ax, C, S, Kxa, Kya, Csx, Csy, Fx, Fy, Dys, Dyc;
    [[gnu::always_inline]] RowMapOf(const ResampleSetup& rs, float dys, float dyc)
        : Cdx(Splat<V>(rs.Cdx)), Ax(Splat<V>(rs.Ax)), C(Splat<V>(rs.C)), S(Splat<V>(rs.S)), Kxa(Splat<V>(rs.Kxa)),
          Kya(Splat<V>(rs.Kya)), Csx(Splat<V>(rs.Csx)), Csy(Splat<V>(rs.Csy)), Fx(Splat<V>(rs.Fx)),
          Fy(Splat<V>(rs.Fy)), Dys(Splat<V>(dys)), Dyc(Splat<V>(dyc)) {}
};

// The source positions (u, v) of the picture pixels at columns fi:
// u = (dx * c + dy * s) * kxa + csx - fx;  v = (dy * c - dx * s) * kya + csy - fy.
template <typename V>
[[gnu::always_inline]] inline void MapColumns(const RowMapOf<V>& m, V fi, V& u, V& v) {
    const V dx = (fi - m.Cdx) * m.Ax;
    u = ((dx * m.C + m.Dys) * m.Kxa + m.Csx) - m.Fx;
    v = ((m.Dyc - dx * m.S) * m.Kya + m.Csy) - m.Fy;
}

// w[k] = b[k][0] + b[k][1] * t + b[k][2] * t^2 + b[k][3] * t^3, a fraction a
// lane, with the generic code's operations in its order, less the products of
// a coefficient 0: such a product is +0 or -0, and added to 2/3 (w1) or to the
// +0 of w3's first coefficient it leaves the sum as it was.
template <typename V>
[[gnu::always_inline]] inline void SplineWeights(const Basis<V>& basis, V t, V w[4]) {
    const V t2 = t * t;
    const V t3 = t2 * t;
    w[0] = ((basis.K[0][0] + basis.K[0][1] * t) + basis.K[0][2] * t2) + basis.K[0][3] * t3;
    w[1] = (basis.K[1][0] + basis.K[1][2] * t2) + basis.K[1][3] * t3;
    w[2] = ((basis.K[2][0] + basis.K[2][1] * t) + basis.K[2][2] * t2) + basis.K[2][3] * t3;
    w[3] = basis.K[3][0] + basis.K[3][3] * t3;
}

}  // namespace
