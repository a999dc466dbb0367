// Compositing the live particles into the frame's output image.
//
// Every particle gets its own picture: a source shape (a mix of two captured
// levels, or a host image), drawn at a size from its size, grow curve and the
// pixel aspects, resampled with its angle and sub-pixel position, tinted by the
// colour curves, and blended over the output with the fade curve and the merge
// slider in 16-bit integer arithmetic.
//
// Particles overlap, and the blend is not commutative, so the picture depends
// on the order in which particles reach a pixel. This code fixes that order to
// oldest first at every pixel: the workers prepare particle pictures in
// parallel, then blend them in horizontal bands, each band on one worker and in
// particle order. The result is the same for any number of threads and equals
// drawing the particles one at a time (CompositeParticlesReference).
#include "render/composite.h"

#include <algorithm>
#include <memory>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "operator/particle_operator.h"
#include "render/resample.h"

namespace {

constexpr double OneOver65535 = 1.5259021896696422e-5;
// Largest particle picture drawn, in pixels (a 2 GiB buffer); a larger one
// counts as one that cannot be allocated and the particle is skipped.
constexpr int64_t MaxParticlePixels = int64_t(1) << 28;

// A curve read at a particle's age ratio.
struct Curve {
    const LookUpTable* Lut = nullptr;
    bool Identity = true;

    void Set(const LookUpTable* lut) {
        Lut = lut;
        Identity = !lut || lut->Count() == 0 || lut->IsOneToOne();
    }
    // The entry at trunc((count - 1) * t), the index kept inside the table
    // (t can pass 1 while the whole part of the age is below the lifetime).
    uint32_t Entry(double t) const {
        const int32_t count = Lut->Count();
        const double x = double(count - 1) * t;
        int32_t index = 0;
        if (x >= double(count - 1))
            index = count - 1;
        else if (x >= 0.0)
            index = int32_t(x);
        return Lut->Table[std::size_t(index)];
    }
    // The identity gives trunc(t * 65535), limited to 0..65535; any other table
    // its entry.
    uint32_t Value(double t) const {
        if (!Identity) return Entry(t);
        const double v = t * 65535.0;
        if (!(v > 0.0)) return 0;
        if (v >= 65535.0) return 65535;
        return uint32_t(v);
    }
};

// Everything a particle's drawing reads that is the same for the whole frame.
struct FrameLook {
    Image* Out = nullptr;
    int32_t OutW = 0, OutH = 0, VOrigin = 0;
    double OutAx = 1.0, OutAy = 1.0;
    double AspectX = 1.0, AspectY = 1.0;
    double Lifetime = 0.0, MaximumSize = 0.0;
    double ProxyX = 1.0, ProxyY = 1.0;
    bool Fade = false, Grow = false, Tint = false;
    Curve Merge, GrowCurve, Red, Green, Blue, Morph;
    uint32_t M = 0;
    unsigned Quality = 0;
    float Ax = 1.0f, Ay = 1.0f;
    // Captured levels (null when particles are drawn from host images) and
    // whether they are the reduced working set.
    const ShapeSet* Levels = nullptr;
    bool Working = false;
    // The one host image every particle is drawn from (the proxy copy or the
    // birth image); null when each particle uses its own ShapeImage.
    bool UseShared = false;
    const Image* Shared = nullptr;
    std::vector<uint16_t> SharedPixels;
    bool SharedReady = false;
};

// One particle's drawing worked out before any pixel is touched.
struct ParticlePlan {
    const Particle* P = nullptr;
    const ShapeLevel* Level = nullptr;  // captured level L
    const ShapeLevel* Next = nullptr;   // level mixed into it, or null
    uint32_t Mix = 0;
    const Image* Img = nullptr;  // host image source
    int32_t W = 0, H = 0, X = 0, Y = 0;
    float Fx = 0.0f, Fy = 0.0f;
    int32_t R0 = 0, R1 = 0, C0 = 0, C1 = 0;
    uint32_t F = 0;
    bool Tint = false;
    uint32_t TR = 0, TG = 0, TB = 0, TW = 0;
    int64_t Bytes() const { return int64_t(R1 - R0) * int64_t(C1 - C0) * 8; }
};

// Cuts a double toward zero into an int32; false for no number or a value too
// large to be a size or a position. Very negative values become -2^31 + 1.
bool CutToInt(double v, int32_t& out) {
    if (std::isnan(v) || v >= 2147483647.0) return false;
    out = v <= -2147483647.0 ? -2147483647 : int32_t(v);
    return true;
}

uint32_t Limit16(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return uint32_t(v);
}

bool DirectAccess(const Image* img);

void ReadImagePixels(const Image* img, std::vector<uint16_t>& out) {
    out.resize(std::size_t(img->Width) * std::size_t(img->Height) * 4);
    uint16_t* px = out.data();
    if (DirectAccess(img)) {
        // The host's own layout: blue, green, red, alpha words at each offset.
        for (int32_t r = 0; r < img->Height; ++r) {
            const uint16_t* in = img->Data() + img->RowOffsets[std::size_t(r)] / 2;
            const int64_t step = img->PixelStep / 2;
            for (int32_t c = 0; c < img->Width; ++c, in += step, px += 4) {
                px[0] = in[2];
                px[1] = in[1];
                px[2] = in[0];
                px[3] = in[3];
            }
        }
        return;
    }
    HostPixel hp;
    for (int32_t r = 0; r < img->Height; ++r) {
        int64_t offset = img->RowOffsets[std::size_t(r)];
        for (int32_t c = 0; c < img->Width; ++c, offset += img->PixelStep, px += 4) {
            img->ReadPixel(offset, &hp);
            px[0] = uint16_t(hp.R);
            px[1] = uint16_t(hp.G);
            px[2] = uint16_t(hp.B);
            px[3] = uint16_t(hp.A);
        }
    }
}

FrameLook LookAtFrame(const ParticleOperator& op) {
    FrameLook look;
    look.Out = op.OutputImage;
    if (!look.Out) return look;
    look.OutW = look.Out->Width;
    look.OutH = look.Out->Height;
    look.VOrigin = look.Out->VerticalOrigin;
    look.OutAx = look.Out->AspectX;
    look.OutAy = look.Out->AspectY;
    look.Ax = float(look.OutAx);
    look.Ay = float(look.OutAy);
    look.AspectX = op.AspectX;
    look.AspectY = op.AspectY;
    look.Lifetime = op.Lifetime;
    look.MaximumSize = op.MaximumSize;
    look.ProxyX = op.ProxyScaleX;
    look.ProxyY = op.ProxyScaleY;
    look.Fade = op.FadeEnabled != 0;
    look.Grow = op.GrowEnabled != 0;
    look.Tint = op.TintEnabled != 0;
    if (look.Fade) look.Merge.Set(op.MergeLut);
    if (look.Grow) look.GrowCurve.Set(op.GrowLut);
    if (look.Tint) {
        look.Red.Set(op.RedLut);
        look.Green.Set(op.GreenLut);
        look.Blue.Set(op.BlueLut);
        look.Morph.Set(op.MorphLut);
    }
    look.M = Limit16(op.Merge * 65535.0);
    look.Quality = unsigned(op.HighQuality);

    // A captured set with no levels draws from the host images instead.
    if (op.PreloadedPresent && op.PreloadedShapes.Count() > 0) {
        const bool working = op.WorkingPresent && op.ProxyScaleX != 1.0 &&
                             op.WorkingShapes.Count() == op.PreloadedShapes.Count();
        look.Levels = working ? &op.WorkingShapes : &op.PreloadedShapes;
        look.Working = working;
    } else if (op.SourceIsReduced()) {
        look.UseShared = true;
        look.Shared = op.ProxyShapeCopy;
    } else if (op.ApplyBirthImage != 0) {
        look.UseShared = true;
        look.Shared = op.ShapeCopy;
    }
    return look;
}

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

// Works out one particle's drawing; false when it draws nothing.
bool PlanParticle(const FrameLook& look, const Particle& p, ParticlePlan& plan) {
    plan = ParticlePlan{};
    plan.P = &p;
    if (!look.Out) return false;

    // Age ratio; a lifetime of 0 (only loaded motion data brings one to drawing)
    // draws the particle at the end of its life.
    double t = look.Lifetime == 0.0 ? 1.0 : p.Age / look.Lifetime;
    if (std::isnan(t)) t = 1.0;
    if (t < 0.0) t = 0.0;

    double g = 1.0;
    if (look.Grow)
        g = look.GrowCurve.Identity ? t * look.MaximumSize
                                    : look.GrowCurve.Entry(t) * (look.MaximumSize * OneOver65535);

    double wf = 0.0, hf = 0.0;
    if (look.Levels) {
        const int32_t count = look.Levels->Count();
        const double pos = t * (double(count) - 1.1);
        int32_t L = 0;
        double f = 0.0;
        if (count > 1) {
            // The level index stays within the pairs (L, L + 1) of the set.
            if (pos >= double(count - 2))
                L = count - 2;
            else if (pos > 0.0)
                L = int32_t(pos);
            f = pos - L;
        } else {
            f = pos;  // one level: it is mixed with itself
        }
        const ShapeLevel& cur = look.Levels->Levels[std::size_t(L)];
        const ShapeLevel& nxt = look.Levels->Levels[std::size_t(count > 1 ? L + 1 : L)];
        const std::size_t need = std::size_t(std::max(cur.Width, 0)) * std::size_t(std::max(cur.Height, 0)) * 4;
        if (cur.Width <= 0 || cur.Height <= 0 || cur.Pixels.size() < need) return false;
        plan.Level = &cur;
        // Levels of different sizes are not mixed: level L is drawn alone.
        if (nxt.Width == cur.Width && nxt.Height == cur.Height && nxt.Pixels.size() >= need) {
            plan.Next = &nxt;
            plan.Mix = Limit16(f * 65535.0);
        }
        const double axL = cur.ScaleX, ayL = cur.ScaleY;
        if (look.Working) {
            wf = axL / look.OutAx * cur.Width * p.Size * g;
            hf = ayL / look.OutAy * cur.Height * p.Size * g;
        } else {
            wf = axL / look.OutAx * cur.Width * p.Size * g * look.ProxyX;
            hf = ayL / look.OutAy * look.ProxyY * cur.Height * p.Size * g;
        }
        if (!CutToInt(wf, plan.W) || !CutToInt(hf, plan.H)) return false;
        if (plan.W <= 0 || plan.H <= 0) return false;
    } else {
        // A missing shared image (a copy that could not be made) draws nothing;
        // it never falls back to the particle's own image.
        const Image* img = look.UseShared ? look.Shared : p.ShapeImage;
        if (!img || (look.UseShared && !look.SharedReady)) return false;
        plan.Img = img;
        wf = img->AspectX / look.OutAx * img->Width * p.Size * g;
        hf = img->Height * p.Size * (img->AspectY / look.OutAy) * g;
        if (!CutToInt(wf, plan.W) || !CutToInt(hf, plan.H)) return false;
        if (plan.W < 2) plan.W = 2;
        if (plan.H < 2) plan.H = 2;
    }
    if (int64_t(plan.W) * int64_t(plan.H) > MaxParticlePixels) return false;

    // Placement: the picture's top-left pixel and the sub-pixel rest.
    const double xf = p.Position.x / look.AspectX * look.OutW - plan.W * 0.5;
    const double yf = (p.Position.y / look.AspectY - look.VOrigin) * look.OutH - plan.H * 0.5;
    if (!(xf > -2147483648.0 && xf < 2147483648.0 && yf > -2147483648.0 && yf < 2147483648.0)) return false;
    plan.X = int32_t(xf);
    plan.Y = int32_t(yf);
    plan.Fx = float(xf - plan.X);
    plan.Fy = float(yf - plan.Y);

    // Clipping against the output.
    const int64_t X = plan.X, Y = plan.Y, w = plan.W, h = plan.H;
    if (Y >= look.OutH || X >= look.OutW || Y + h <= 0 || X + w <= 0) return false;
    plan.R0 = int32_t(Y < 0 ? -Y : 0);
    plan.C0 = int32_t(X < 0 ? -X : 0);
    plan.R1 = int32_t(Y + h > look.OutH ? look.OutH - Y : h);
    plan.C1 = int32_t(X + w > look.OutW ? look.OutW - X : w);

    // Fade and colour values at this age.
    if (look.Fade) {
        if (look.Merge.Identity)
            plan.F = Limit16(65535.0 - t * 65535.0);
        else
            plan.F = 65535u - look.Merge.Entry(t);
    }
    if (look.Tint) {
        plan.Tint = true;
        plan.TR = look.Red.Value(t);
        plan.TG = look.Green.Value(t);
        plan.TB = look.Blue.Value(t);
        plan.TW = look.Morph.Value(t);
    }
    return true;
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

// The particle's picture for rows R0..R1 and columns C0..C1 of its drawn size,
// resampled and tinted, row after row into out. The source scratch is kept per
// worker thread, so a frame's particles do not allocate one each.
void RenderVisible(const FrameLook& look, const ParticlePlan& plan, uint16_t* out) {
    static thread_local std::vector<uint16_t> scratch;
    int32_t sw = 0, sh = 0;
    const uint16_t* src = SourceOf(look, plan, scratch, sw, sh);
    const int32_t cw = plan.C1 - plan.C0, ch = plan.R1 - plan.R0;
    ResampleShapeRegion(src, sw, sh, float(plan.P->Angle), plan.Fx, plan.Fy, plan.W, plan.H, look.Quality, look.Ay,
                        look.Ax, plan.R0, plan.R1, plan.C0, plan.C1, out);
    if (plan.Tint) TintShape(out, cw, ch, plan.TR, plan.TG, plan.TB, plan.TW);
}

// The blend of one particle pixel P (red, green, blue, alpha) over a background
// pixel (blue, green, red, alpha), in unsigned 32-bit arithmetic. The fade takes
// its share of the particle's alpha; W is what is left of the background (all of
// it at the additive end of the merge slider).
struct Blend {
    uint32_t F, M;
    inline void operator()(const uint32_t bg[4], const uint16_t* P, uint32_t out[4]) const {
        const uint32_t A = P[3];
        const uint32_t Ap = F != 0 ? A - ((A * F) >> 16) : A;
        const uint32_t W = ((M * Ap) >> 16) - Ap + 65535u;
        out[0] = std::min(((bg[0] * W) >> 16) + ((uint32_t(P[2]) * Ap) >> 16), 65535u);
        out[1] = std::min(((bg[1] * W) >> 16) + ((uint32_t(P[1]) * Ap) >> 16), 65535u);
        out[2] = std::min(((bg[2] * W) >> 16) + ((uint32_t(P[0]) * Ap) >> 16), 65535u);
        out[3] = std::min(((bg[3] * W) >> 16) + ((A * Ap) >> 16), 65535u);
    }
};

// Blends rows [rowBegin, rowEnd) (buffer rows, relative to the picture) of a
// prepared picture whose buffer starts at picture row R0 and column C0.
void BlendRows(const FrameLook& look, const ParticlePlan& plan, const uint16_t* buffer, int32_t rowBegin,
               int32_t rowEnd, bool direct) {
    const Blend blend{plan.F, look.M};
    const int32_t cw = plan.C1 - plan.C0;
    Image* out = look.Out;
    const int64_t step = out->PixelStep;
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        const uint16_t* P = buffer + std::size_t(r - plan.R0) * std::size_t(cw) * 4;
        const int64_t rowStart = out->RowOffsets[std::size_t(plan.Y + r)] + int64_t(plan.X + plan.C0) * step;
        if (direct) {
            uint16_t* px = out->Data() + rowStart / 2;
            const int64_t wordStep = step / 2;
            uint32_t bg[4], res[4];
            for (int32_t c = 0; c < cw; ++c, P += 4, px += wordStep) {
                bg[0] = px[0];
                bg[1] = px[1];
                bg[2] = px[2];
                bg[3] = px[3];
                blend(bg, P, res);
                px[0] = uint16_t(res[0]);
                px[1] = uint16_t(res[1]);
                px[2] = uint16_t(res[2]);
                px[3] = uint16_t(res[3]);
            }
        } else {
            int64_t offset = rowStart;
            HostPixel hp;
            uint32_t bg[4], res[4];
            for (int32_t c = 0; c < cw; ++c, P += 4, offset += step) {
                out->ReadPixel(offset, &hp);
                bg[0] = hp.B;
                bg[1] = hp.G;
                bg[2] = hp.R;
                bg[3] = hp.A;
                blend(bg, P, res);
                hp.B = res[0];
                hp.G = res[1];
                hp.R = res[2];
                hp.A = res[3];
                out->WritePixel(offset, &hp);
            }
        }
    }
}

// Whether an image keeps its pixels as this host's images do, so that its
// 16-bit words may be read and written directly with what the routines give.
bool DirectAccess(const Image* out) {
    static const auto routines = [] {
        Image* probe = new Image(1, 1);
        const auto fns = std::make_pair(probe->ReadPixelFn, probe->WritePixelFunc);
        probe->Recycle();
        return fns;
    }();
    if (out->ReadPixelFn != routines.first || out->WritePixelFunc != routines.second) return false;
    if (out->PixelStep < 8 || out->PixelStep % 2 != 0) return false;
    for (int64_t offset : out->RowOffsets)
        if (offset < 0 || offset % 2 != 0) return false;
    return true;
}

// Draws one particle whole, the plain way: full picture, then the blend pixel by
// pixel through the output's routines.
void DrawParticleReference(const FrameLook& look, const Particle& p) {
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
    const std::size_t stride = std::size_t(plan.W) * 4;
    const Blend blend{plan.F, look.M};
    Image* out = look.Out;
    HostPixel hp;
    uint32_t bg[4], res[4];
    for (int32_t r = plan.R0; r < plan.R1; ++r) {
        for (int32_t c = plan.C0; c < plan.C1; ++c) {
            const int64_t offset =
                out->RowOffsets[std::size_t(plan.Y + r)] + int64_t(plan.X + c) * out->PixelStep;
            out->ReadPixel(offset, &hp);
            bg[0] = hp.B;
            bg[1] = hp.G;
            bg[2] = hp.R;
            bg[3] = hp.A;
            blend(bg, picture.data() + std::size_t(r) * stride + std::size_t(c) * 4, res);
            hp.B = res[0];
            hp.G = res[1];
            hp.R = res[2];
            hp.A = res[3];
            out->WritePixel(offset, &hp);
        }
    }
}

}  // namespace

// One compositing pass: the frame's look, the plans of the batch being drawn
// and their prepared pictures. ProcessChunk runs its chunks.
struct CompositePass {
    enum class Stage { Prepare, Blend };
    Stage Current = Stage::Prepare;
    const FrameLook* Look = nullptr;
    const ParticlePlan* Plans = nullptr;  // the batch, oldest first
    std::vector<uint16_t*> Pictures;      // each particle's place in the arena
    std::vector<char> Ready;
    int32_t BandRows = 1;
    bool Direct = false;

    void Run(long chunk) {
        if (Current == Stage::Prepare) {
            const std::size_t i = std::size_t(chunk);
            try {
                RenderVisible(*Look, Plans[i], Pictures[i]);
                Ready[i] = 1;
            } catch (const std::bad_alloc&) {
                Ready[i] = 0;  // a source that cannot be allocated skips the particle
            }
            return;
        }
        const int32_t y0 = int32_t(chunk) * BandRows;
        const int32_t y1 = std::min(y0 + BandRows, Look->OutH);
        for (std::size_t i = 0; i < Pictures.size(); ++i) {
            if (!Ready[i]) continue;
            const ParticlePlan& plan = Plans[i];
            const int32_t top = plan.Y + plan.R0, bottom = plan.Y + plan.R1;
            if (bottom <= y0 || top >= y1) continue;
            BlendRows(*Look, plan, Pictures[i], std::max(top, y0) - plan.Y, std::min(bottom, y1) - plan.Y, Direct);
        }
    }
};

namespace {

// Memory for the prepared pictures of a batch, kept by the render thread from
// frame to frame (and left uninitialised: every word is written before it is
// read), so a frame does not fault in fresh pages for its pictures.
class PictureArena {
public:
    // Room for n words, or null when it cannot be had.
    uint16_t* Reserve(std::size_t n) {
        if (n > Capacity || n < Capacity / 8) {
            Words.reset();
            Capacity = 0;
            Words.reset(new (std::nothrow) uint16_t[n]);
            if (!Words) return nullptr;
            Capacity = n;
        }
        return Words.get();
    }

private:
    std::unique_ptr<uint16_t[]> Words;
    std::size_t Capacity = 0;
};

}  // namespace

void CompositeParticlesBanded(ParticleOperator& op, Request* req, const CompositeOptions& options) {
    FrameLook look = LookAtFrame(op);
    if (!look.Out || look.OutW <= 0 || look.OutH <= 0) return;
    PrepareShared(look);

    const int32_t live = std::clamp(op.LiveCount, 0, int32_t(PoolSize));
    std::vector<ParticlePlan> plans;
    plans.reserve(std::size_t(live));
    for (int32_t n = 0; n < live; ++n) {
        ParticlePlan plan;
        if (PlanParticle(look, op.LiveParticle(n), plan)) plans.push_back(plan);
    }
    if (plans.empty()) return;

    CompositePass pass;
    pass.Look = &look;
    pass.Direct = DirectAccess(look.Out);
    pass.BandRows = options.BandRows > 0 ? options.BandRows : std::max(1, (look.OutH + 63) / 64);
    const long bands = (look.OutH + pass.BandRows - 1) / pass.BandRows;

    struct ActiveLink {
        ParticleOperator& Op;
        ~ActiveLink() { Op.ActivePass = nullptr; }
    } link{op};
    static thread_local PictureArena arena;

    std::size_t begin = 0;
    while (begin < plans.size()) {
        std::size_t end = begin;
        int64_t bytes = 0;
        while (end < plans.size() && (end == begin || bytes + plans[end].Bytes() <= int64_t(options.BatchBytes)))
            bytes += plans[end++].Bytes();

        uint16_t* words = arena.Reserve(std::size_t(bytes) / 2);
        if (!words && end - begin > 1) {
            // Short of memory: this batch goes one particle at a time.
            end = begin + 1;
            bytes = plans[begin].Bytes();
            words = arena.Reserve(std::size_t(bytes) / 2);
        }
        pass.Plans = plans.data() + begin;
        pass.Pictures.assign(end - begin, nullptr);
        pass.Ready.assign(end - begin, 0);
        if (words) {
            std::size_t at = 0;
            for (std::size_t i = begin; i < end; ++i) {
                pass.Pictures[i - begin] = words + at;
                at += std::size_t(plans[i].Bytes()) / 2;
            }
            op.ActivePass = &pass;
            pass.Current = CompositePass::Stage::Prepare;
            op.DoMultiProcess(req, long(end - begin));
            pass.Current = CompositePass::Stage::Blend;
            op.DoMultiProcess(req, bands);
            op.ActivePass = nullptr;
        }
        // A particle whose picture cannot be allocated is skipped.
        begin = end;
    }
}

void CompositeParticlesReference(ParticleOperator& op) {
    FrameLook look = LookAtFrame(op);
    if (!look.Out) return;
    PrepareShared(look);
    const int32_t live = std::clamp(op.LiveCount, 0, int32_t(PoolSize));
    for (int32_t n = 0; n < live; ++n) DrawParticleReference(look, op.LiveParticle(n));
}

void ParticleOperator::CompositeParticles(Request* req) { CompositeParticlesBanded(*this, req, CompositeOptions{}); }

void ParticleOperator::ProcessChunk(Request*, long chunk) {
    if (CompositePass* pass = ActivePass) {
        pass->Run(chunk);
        return;
    }
    // Outside a pass of CompositeParticles a chunk is the chunk-th oldest live
    // particle, drawn by itself; the blend of a pixel must not interleave with
    // another chunk's, so such chunks draw one at a time.
    if (chunk < 0 || chunk >= LiveCount || chunk >= PoolSize) return;
    static std::mutex drawing;
    std::lock_guard<std::mutex> hold(drawing);
    FrameLook look = LookAtFrame(*this);
    PrepareShared(look);
    DrawParticleReference(look, LiveParticle(int32_t(chunk)));
}
