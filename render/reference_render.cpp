#include "render/reference_render.h"

#include <algorithm>
#include <new>
#include <vector>

#include "render/blur.h"
#include "render/host_pixels.h"
#include "render/motion_blur.h"
#include "render/particle_plan.h"
#include "render/resample.h"

namespace {

// Reads the shared host image once for the whole frame.
bool PrepareShared(FrameLook& look) {
    if (look.Levels || !look.Shared) return true;
    try {
        ReadImagePixels(look.Shared, look.SharedPixels);
        look.SharedReady = true;
    } catch (const std::bad_alloc&) {
        look.SharedReady = false;
    }
    return look.SharedReady;
}

// The particle's source shape: a pointer to its pixels and its size. scratch
// holds the pixels when they are made for this particle (a mix of two levels,
// or the particle's own image).
const uint16_t* SourceOf(const FrameLook& look, const ParticlePlan& plan, std::vector<uint16_t>& scratch,
                         int32_t& sw, int32_t& sh) {
    if (plan.Level) {
        sw = plan.Level->Width;
        sh = plan.Level->Height;
        if (!plan.Next) return plan.Level->Pixels.data();
        const std::size_t n = std::size_t(sw) * std::size_t(sh) * 4;
        scratch.resize(n);
        const uint32_t m = plan.Mix, keep = 65535u - plan.Mix;
        const uint16_t* cur = plan.Level->Pixels.data();
        const uint16_t* nxt = plan.Next->Pixels.data();
        for (std::size_t i = 0; i < n; ++i)
            scratch[i] = uint16_t(((nxt[i] * m) >> 16) + ((cur[i] * keep) >> 16));
        return scratch.data();
    }
    sw = plan.Img->Width;
    sh = plan.Img->Height;
    if (look.UseShared) return look.SharedPixels.data();
    ReadImagePixels(plan.Img, scratch);
    return scratch.data();
}

// One planned particle's picture, the plain way: resampled whole, tinted and,
// when blurred, blurred whole by the plain blur when plainBlur is set, else
// only in its drawn part (the same pixels, in time and memory bounded by the
// output's size). Picture pixel (r, c) is at ((r - top) * stride + c - left) * 4.
// False when the picture cannot be allocated (the particle is skipped).
struct PlainPicture {
    std::vector<uint16_t> Px;
    std::size_t Stride = 0;
    int32_t Top = 0, Left = 0;
    const uint16_t* At(int32_t r, int32_t c) const {
        return Px.data() + std::size_t(r - Top) * Stride + std::size_t(c - Left) * 4;
    }
};

bool MakePlainPicture(const FrameLook& look, const Particle& p, const ParticlePlan& plan, bool plainBlur,
                      PlainPicture& pic) {
    std::vector<uint16_t>& picture = pic.Px;
    try {
        std::vector<uint16_t> scratch;
        int32_t sw = 0, sh = 0;
        const uint16_t* src = SourceOf(look, plan, scratch, sw, sh);
        picture = ResampleShape(src, sw, sh, float(p.Angle), plan.Fx, plan.Fy, plan.W, plan.H, look.Quality,
                                look.Ay, look.Ax);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (plan.Tint) TintShape(picture.data(), plan.W, plan.H, plan.TR, plan.TG, plan.TB, plan.TW);
    pic.Stride = std::size_t(plan.W) * 4;
    if (plan.Blurred) {
        try {
            if (plainBlur) {
                picture = BlurPicture(picture.data(), plan.W, plan.H, plan.BlurX, plan.BlurY);
                pic.Stride = std::size_t(plan.W + 2 * plan.BlurX.Reach) * 4;
            } else {
                std::vector<uint16_t> drawn(std::size_t(plan.R1 - plan.R0) * std::size_t(plan.C1 - plan.C0) * 4);
                BlurPictureRegion(picture.data(), plan.W, plan.H, plan.BlurX, plan.BlurY, plan.R0, plan.R1, plan.C0,
                                  plan.C1, drawn.data());
                picture.swap(drawn);
                pic.Stride = std::size_t(plan.C1 - plan.C0) * 4;
                pic.Top = plan.R0;
                pic.Left = plan.C0;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

// Draws a motion-blurred particle the plain way: each draw over the shutter
// made whole and summed, then the average blended once.
void DrawMotionReference(const FrameLook& look, const Particle& p, const ParticleBefore* before, bool plainBlur) {
    ParticlePlan box;
    if (!PlanMotionParticle(look, p, before, box)) return;
    std::vector<uint16_t> averaged;
    try {
        MotionSum sum;
        sum.Start(box.C0, box.R0, box.C1 - box.C0, box.R1 - box.R0);
        for (int32_t k = 0; k < look.MotionSamples; ++k) {
            Particle q;
            ParticlePlan plan;
            PlainPicture pic;
            if (!SubFrameParticle(look, p, *before, k, q) || !PlanParticle(look, q, plan)) continue;
            if (!MakePlainPicture(look, q, plan, plainBlur, pic)) continue;
            for (int32_t r = plan.R0; r < plan.R1; ++r)
                sum.AddRow(plan.DrawX + plan.C0, plan.DrawY + r, pic.At(r, plan.C0), plan.C1 - plan.C0, plan.F);
        }
        sum.Finish(look.MotionSamples, averaged);
    } catch (const std::bad_alloc&) {
        return;
    }
    Image* out = look.Out;
    const int32_t w = box.C1 - box.C0;
    for (int32_t y = box.R0; y < box.R1; ++y)
        BlendPremultipliedThroughRoutines(out, out->RowOffsets[std::size_t(y)] + int64_t(box.C0) * out->PixelStep,
                                          averaged.data() + std::size_t(y - box.R0) * std::size_t(w) * 5, w, look.M,
                                          true);
}

// Draws one particle whole, the plain way: full picture, then the blend pixel by
// pixel through the output's routines (a motion-blurred one by its draws over
// the shutter).
void DrawParticleReference(const FrameLook& look, const Particle& p, const ParticleBefore* before, bool plainBlur) {
    if (MotionBlurOn(look, before)) {
        DrawMotionReference(look, p, before, plainBlur);
        return;
    }
    ParticlePlan plan;
    if (!PlanParticle(look, p, plan)) return;
    PlainPicture pic;
    if (!MakePlainPicture(look, p, plan, plainBlur, pic)) return;
    const Blend blend{plan.F, look.M};
    Image* out = look.Out;
    HostPixel hp;
    uint32_t bg[4], res[4];
    for (int32_t r = plan.R0; r < plan.R1; ++r) {
        for (int32_t c = plan.C0; c < plan.C1; ++c) {
            const int64_t offset =
                out->RowOffsets[std::size_t(plan.DrawY + r)] + int64_t(plan.DrawX + c) * out->PixelStep;
            out->ReadPixel(offset, &hp);
            bg[0] = hp.B;
            bg[1] = hp.G;
            bg[2] = hp.R;
            bg[3] = hp.A;
            blend(bg, pic.At(r, c), res);
            hp.B = res[0];
            hp.G = res[1];
            hp.R = res[2];
            hp.A = res[3];
            out->WritePixel(offset, &hp);
        }
    }
}

}  // namespace

void CompositeParticlesReference(FrameLook look, const LiveParticles& particles) {
    if (!look.Out) return;
    PrepareShared(look);
    for (int32_t n = 0; n < particles.Count(); ++n)
        DrawParticleReference(look, particles[n], particles.Before(n), true);
}

void DrawParticleAlone(FrameLook look, const Particle& p, const ParticleBefore* before) {
    PrepareShared(look);
    DrawParticleReference(look, p, before, false);
}
