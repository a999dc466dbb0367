#include "render/reference_render.h"

#include <algorithm>
#include <new>
#include <vector>

#include "render/blur.h"
#include "render/host_pixels.h"
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

// Draws one particle whole, the plain way: full picture, then the blend pixel by
// pixel through the output's routines. A blurred picture is blurred whole by
// the plain blur when plainBlur is set, else only its drawn part is made (the
// same pixels, in time and memory bounded by the output's size).
void DrawParticleReference(const FrameLook& look, const Particle& p, bool plainBlur) {
    ParticlePlan plan;
    if (!PlanParticle(look, p, plan)) return;
    std::vector<uint16_t> picture;
    try {
        std::vector<uint16_t> scratch;
        int32_t sw = 0, sh = 0;
        const uint16_t* src = SourceOf(look, plan, scratch, sw, sh);
        picture = ResampleShape(src, sw, sh, float(p.Angle), plan.Fx, plan.Fy, plan.W, plan.H, look.Quality,
                                look.Ay, look.Ax);
    } catch (const std::bad_alloc&) {
        return;  // a picture that cannot be allocated skips the particle
    }
    if (plan.Tint) TintShape(picture.data(), plan.W, plan.H, plan.TR, plan.TG, plan.TB, plan.TW);
    // Picture pixel (r, c) is at ((r - top) * stride + c - left) * 4.
    std::size_t stride = std::size_t(plan.W) * 4;
    int32_t top = 0, left = 0;
    if (plan.Blurred) {
        try {
            if (plainBlur) {
                picture = BlurPicture(picture.data(), plan.W, plan.H, plan.BlurX, plan.BlurY);
                stride = std::size_t(plan.W + 2 * plan.BlurX.Reach) * 4;
            } else {
                std::vector<uint16_t> drawn(std::size_t(plan.R1 - plan.R0) * std::size_t(plan.C1 - plan.C0) * 4);
                BlurPictureRegion(picture.data(), plan.W, plan.H, plan.BlurX, plan.BlurY, plan.R0, plan.R1, plan.C0,
                                  plan.C1, drawn.data());
                picture.swap(drawn);
                stride = std::size_t(plan.C1 - plan.C0) * 4;
                top = plan.R0;
                left = plan.C0;
            }
        } catch (const std::bad_alloc&) {
            return;
        }
    }
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
            blend(bg, picture.data() + std::size_t(r - top) * stride + std::size_t(c - left) * 4, res);
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
    for (int32_t n = 0; n < particles.Count(); ++n) DrawParticleReference(look, particles[n], true);
}

void DrawParticleAlone(FrameLook look, const Particle& p) {
    PrepareShared(look);
    DrawParticleReference(look, p, false);
}
