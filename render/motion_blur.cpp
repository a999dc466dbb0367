#include "render/motion_blur.h"

#include <algorithm>
#include <cmath>

#include "render/pixel_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif


bool MotionBlurOn(const FrameLook& look, const ParticleBefore* before) {
    return before && look.MotionSamples >= 2 && look.ShutterOpen != look.ShutterClose;
}

bool SubFrameParticle(const FrameLook& look, const Particle& p, const ParticleBefore& before, int32_t k, Particle& q) {
    const double u =
        look.ShutterOpen + (look.ShutterClose - look.ShutterOpen) * double(k) / double(look.MotionSamples - 1);
    const double v = u - 1.0;  // from the drawn state, which v = 0 gives exactly
    const double aged = p.Age - before.Age;
    if (v < 0.0 && -v * aged > p.Age) return false;  // not born yet
    if (v > 0.0 && look.Lifetime > 0.0 && std::trunc(p.Age + v * aged) >= look.Lifetime) return false;  // retired
    q = p;
    q.Position = p.Position + (p.Position - before.Position) * v;
    double turn = p.Angle - before.Angle;
    if (look.AngleIsDirection) turn -= 360.0 * std::round(turn / 360.0);
    q.Angle = p.Angle + turn * v;
    q.Age = p.Age + aged * v;
    q.Size = p.Size + (p.Size - before.Size) * v;
    return true;
}

bool PlanMotionParticle(const FrameLook& look, const Particle& p, const ParticleBefore* before, ParticlePlan& plan) {
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    ParticlePlan first;
    for (int32_t k = 0; k < look.MotionSamples; ++k) {
        Particle q;
        ParticlePlan s;
        if (!SubFrameParticle(look, p, *before, k, q) || !PlanParticle(look, q, s)) continue;
        if (x0 == INT64_MAX) first = s;
        x0 = std::min(x0, int64_t(s.DrawX) + s.C0);
        x1 = std::max(x1, int64_t(s.DrawX) + s.C1);
        y0 = std::min(y0, int64_t(s.DrawY) + s.R0);
        y1 = std::max(y1, int64_t(s.DrawY) + s.R1);
    }
    plan = ParticlePlan{};
    plan.P = &p;
    if (x0 >= x1 || y0 >= y1) return false;
    plan.Before = before;
    plan.Blurred = true;
    plan.Level = first.Level;
    plan.Next = first.Next;
    plan.Mix = first.Mix;
    plan.Img = first.Img;
    plan.W = first.W;
    plan.H = first.H;
    plan.C0 = int32_t(x0);
    plan.C1 = int32_t(x1);
    plan.R0 = int32_t(y0);
    plan.R1 = int32_t(y1);
    return true;
}

void MotionSum::Start(int32_t x0, int32_t y0, int32_t w, int32_t h) {
    X0 = x0;
    Y0 = y0;
    W = std::max(w, 0);
    H = std::max(h, 0);
    Sums.assign(std::size_t(W) * std::size_t(H) * 5, 0);
}

void MotionSum::AddRow(int32_t x, int32_t y, const uint16_t* px, int32_t n, uint32_t F) {
    if (y < Y0 || y >= Y0 + H) return;
    const int32_t c0 = std::max(x, X0), c1 = std::min(x + n, X0 + W);
    uint64_t* s = Sums.data() + (std::size_t(y - Y0) * std::size_t(W) + std::size_t(c0 - X0)) * 5;
    for (int32_t c = c0; c < c1; ++c, s += 5) {
        const uint16_t* P = px + std::size_t(c - x) * 4;
        const uint32_t A = P[3];
        const uint32_t Ap = F != 0 ? A - ((A * F) >> 16) : A;
        for (int ch = 0; ch < 4; ++ch) s[ch] += uint64_t(P[ch]) * Ap;
        s[4] += Ap;
    }
}

void MotionSum::Finish(int32_t draws, std::vector<uint16_t>& out) const {
    out.resize(Sums.size());
    const uint64_t n = uint64_t(std::max(draws, 1));
    for (std::size_t i = 0; i < Sums.size(); i += 5) {
        for (int ch = 0; ch < 4; ++ch) out[i + ch] = uint16_t((Sums[i + ch] / n) >> 16);
        out[i + 4] = uint16_t(Sums[i + 4] / n);
    }
}

void MotionSumRows::Start(int32_t x0, int32_t y0, int32_t w, int32_t h) {
    const bool wasClean = Clean;
    Clean = false;
    Wide = ActivePixelIsa() != PixelIsa::Generic;  // until Finish has emptied the sums again
    X0 = x0;
    Y0 = y0;
    W = std::max(w, 0);
    H = std::max(h, 0);
    const std::size_t count = std::size_t(W) * std::size_t(H);
    if (!wasClean) {
        std::fill(Sums.begin(), Sums.end(), 0u);
        std::fill(Alpha.begin(), Alpha.end(), 0u);
    }
    if (Alpha.size() < count) {
        Sums.resize(count * 8);
        Alpha.resize(count);
    }
}

void MotionSumRows::AddRow(int32_t x, int32_t y, const uint16_t* px, int32_t n, uint32_t F) {
    if (y < Y0 || y >= Y0 + H) return;
    const int32_t c0 = std::max(x, X0), c1 = std::min(x + n, X0 + W);
    if (c0 >= c1) return;
    const std::size_t first = std::size_t(y - Y0) * std::size_t(W) + std::size_t(c0 - X0);
    uint32_t* s = Sums.data() + first * 8;
    uint32_t* alpha = Alpha.data() + first;
    const uint16_t* P = px + std::size_t(c0 - x) * 4;
    const int32_t m = c1 - c0;
    int32_t c = 0;
    if (Wide) {
        c = AddPixelsAvx2(s, alpha, P, m, F);
        P += std::size_t(c) * 4;
        s += std::size_t(c) * 8;
        alpha += c;
    }
#if defined(__SSE2__)
    // Two pixels at a time: the 16 x 16-bit products' low and high halves
    // come from one multiplication each, and are widened to 32 bits and summed.
    const __m128i zero = _mm_setzero_si128();
    const __m128i f = _mm_set1_epi16(int16_t(uint16_t(F)));
    for (; c + 2 <= m; c += 2, P += 8, s += 16, alpha += 2) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF);
        const __m128i ap = _mm_sub_epi16(a, _mm_mulhi_epu16(a, f));  // A' = A - ((A * F) >> 16)
        const __m128i lo = _mm_mullo_epi16(v, ap), hi = _mm_mulhi_epu16(v, ap);
        __m128i* d = reinterpret_cast<__m128i*>(s);
        _mm_storeu_si128(d, _mm_add_epi32(_mm_loadu_si128(d), _mm_unpacklo_epi16(lo, zero)));
        _mm_storeu_si128(d + 1, _mm_add_epi32(_mm_loadu_si128(d + 1), _mm_unpacklo_epi16(hi, zero)));
        _mm_storeu_si128(d + 2, _mm_add_epi32(_mm_loadu_si128(d + 2), _mm_unpackhi_epi16(lo, zero)));
        _mm_storeu_si128(d + 3, _mm_add_epi32(_mm_loadu_si128(d + 3), _mm_unpackhi_epi16(hi, zero)));
        alpha[0] += uint32_t(_mm_extract_epi16(ap, 0));
        alpha[1] += uint32_t(_mm_extract_epi16(ap, 4));
    }
#endif
    for (; c < m; ++c, P += 4, s += 8, ++alpha) {
        const uint32_t A = P[3];
        const uint32_t Ap = A - ((A * F) >> 16);  // F = 0 keeps A
        *alpha += Ap;
        for (int ch = 0; ch < 4; ++ch) {
            const uint32_t v = uint32_t(P[ch]) * Ap;
            s[ch] += v & 0xFFFFu;
            s[4 + ch] += v >> 16;
        }
    }
}

void MotionSumRows::Finish(int32_t draws, std::vector<uint16_t>& out) {
    const std::size_t count = std::size_t(W) * std::size_t(H);
    out.resize(count * 5);
    const uint64_t n = uint64_t(std::clamp(draws, 1, MaxDraws));
    // A word's sum S over n draws is below n * 2^32, and (S / n) >> 16 is
    // T / n for T = S >> 16 = high sum + (low sum >> 16), below n * 2^16 (the
    // alpha sum is too). T / n is (T * m) >> 32 for m = ceil(2^32 / n): exact,
    // as T * (m * n - 2^32) < n * 2^16 * n <= 2^32 for n <= 256.
    const uint64_t m = ((uint64_t(1) << 32) + n - 1) / n;
    uint32_t* s = Sums.data();
    uint32_t* alpha = Alpha.data();
    uint16_t* q = out.data();
    std::size_t i = 0;
    if (Wide && n >= 2) {  // m then fits in 32 bits
        i = FinishPixelsAvx2(s, alpha, count, uint32_t(m), q);
        s += i * 8;
        alpha += i;
        q += i * 5;
    }
    // Each sum is read and emptied for the next Start.
    for (; i < count; ++i, s += 8, ++alpha, q += 5) {
        for (int ch = 0; ch < 4; ++ch) {
            const uint64_t T = s[4 + ch] + (s[ch] >> 16);
            q[ch] = uint16_t((T * m) >> 32);
            s[ch] = s[4 + ch] = 0;
        }
        q[4] = uint16_t((uint64_t(*alpha) * m) >> 32);
        *alpha = 0;
    }
    if (Alpha.size() > KeptPixels) {  // a large particle's memory is not held on to
        Sums = {};
        Alpha = {};
    }
    Clean = true;
}

namespace {

inline uint32_t BackgroundShare(uint32_t A, uint32_t M) { return ((M * A) >> 16) - A + 65535u; }

}  // namespace

void BlendPremultipliedRow(uint16_t* out, const uint16_t* q, int32_t n, uint32_t M) {
    int32_t p = 0;
    if (ActivePixelIsa() != PixelIsa::Generic) {
        p = BlendPremultipliedAvx2(out, q, n, M);
        out += std::size_t(p) * 4;
        q += std::size_t(p) * 5;
    }
#if defined(__SSE2__)
    // Two pixels at a time: (out * W) >> 16 is the high half of the product,
    // and the sum capped at 65535 a saturating add.
    for (; p + 2 <= n; p += 2, out += 8, q += 10) {
        const int16_t w0 = int16_t(uint16_t(BackgroundShare(q[4], M)));
        const int16_t w1 = int16_t(uint16_t(BackgroundShare(q[9], M)));
        const __m128i w = _mm_set_epi16(w1, w1, w1, w1, w0, w0, w0, w0);
        const __m128i add = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)),
                                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 5)));
        __m128i* o = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(o, _mm_adds_epu16(_mm_mulhi_epu16(_mm_loadu_si128(o), w), add));
    }
#endif
    for (; p < n; ++p, out += 4, q += 5) {
        const uint32_t W = BackgroundShare(q[4], M);
        for (int ch = 0; ch < 4; ++ch) out[ch] = uint16_t(std::min(((out[ch] * W) >> 16) + q[ch], 65535u));
    }
}

void BlendPremultipliedThroughRoutines(Image* out, int64_t offset, const uint16_t* q, int32_t n, uint32_t M,
                                       bool rgba) {
    HostPixel hp;
    const int b = rgba ? 2 : 0, r = rgba ? 0 : 2;
    for (int32_t c = 0; c < n; ++c, q += 5, offset += out->PixelStep) {
        out->ReadPixel(offset, &hp);
        const uint32_t W = BackgroundShare(q[4], M);
        hp.B = std::min(((hp.B * W) >> 16) + q[b], 65535u);
        hp.G = std::min(((hp.G * W) >> 16) + q[1], 65535u);
        hp.R = std::min(((hp.R * W) >> 16) + q[r], 65535u);
        hp.A = std::min(((hp.A * W) >> 16) + q[3], 65535u);
        out->WritePixel(offset, &hp);
    }
}
