#include "render/motion_blur.h"

#include <algorithm>
#include <cmath>


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
    q.Angle = p.Angle + (p.Angle - before.Angle) * v;
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

namespace {

inline uint32_t BackgroundShare(uint32_t A, uint32_t M) { return ((M * A) >> 16) - A + 65535u; }

}  // namespace

void BlendPremultipliedRow(uint16_t* out, const uint16_t* q, int32_t n, uint32_t M) {
    for (int32_t p = 0; p < n; ++p, out += 4, q += 5) {
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
