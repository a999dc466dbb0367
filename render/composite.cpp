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
// oldest first at every pixel: the output is drawn in horizontal bands, each
// band on one worker, taking the particles that cross it in particle order and
// making each particle's rows in the band as it goes (resampled, tinted and
// blended one row at a time, by the kernels of the processor's instruction
// set). The result is the same for any number of threads and on every
// processor, and equals drawing the particles one at a time
// (CompositeParticlesReference).
//
// With blur on, a particle's picture is softened over its life after the tint
// and before the blend (render/blur.h), grown by the blur's reach. A blurred
// picture needs all of the particle's rows, so blurred particles get a stage
// of their own before the bands: each one's drawn part is made whole on a
// worker and kept, and the bands blend its rows from there. The pictures kept
// at once stay within a budget: the particles are drawn in waves, oldest
// first, each wave in every band before the next (a particle over the budget
// on its own is made band by band). Particles with no blur take the
// row-at-a-time path untouched.
#include "render/composite.h"

#include <algorithm>
#include <memory>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "operator/particle_operator.h"
#include "render/blur.h"
#include "render/pixel_kernels.h"
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
    bool Fade = false, Grow = false, Tint = false, Blur = false;
    Curve Merge, GrowCurve, Red, Green, Blue, Morph, BlurCurve;
    double MaximumBlur = 0.0;
    int32_t BlurPasses = 3;
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
    // The drawn picture: the resampled one, or for a blurred particle the
    // picture grown by the blur's reach on every side. Rows R0..R1 and columns
    // C0..C1 of it are drawn, its pixel (0, 0) landing on output (DrawX, DrawY).
    bool Blurred = false;
    BlurAxis BlurX, BlurY;
    int32_t DrawX = 0, DrawY = 0;
    int32_t R0 = 0, R1 = 0, C0 = 0, C1 = 0;
    uint32_t F = 0;
    bool Tint = false;
    uint32_t TR = 0, TG = 0, TB = 0, TW = 0;
    ResampleSetup Setup;  // the mapping into the source (the banded path)
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

// A host image's pixels, row after row: red, green, blue, alpha, or with
// bgra blue, green, red, alpha (the host's own order).
void ReadImagePixels(const Image* img, std::vector<uint16_t>& out, bool bgra = false) {
    out.resize(std::size_t(img->Width) * std::size_t(img->Height) * 4);
    uint16_t* px = out.data();
    const int r = bgra ? 2 : 0, b = bgra ? 0 : 2;  // where red and blue go
    if (DirectAccess(img)) {
        // The host's own layout: blue, green, red, alpha words at each offset.
        for (int32_t row = 0; row < img->Height; ++row) {
            const uint16_t* in = img->Data() + img->RowOffsets[std::size_t(row)] / 2;
            const int64_t step = img->PixelStep / 2;
            for (int32_t c = 0; c < img->Width; ++c, in += step, px += 4) {
                px[r] = in[2];
                px[1] = in[1];
                px[b] = in[0];
                px[3] = in[3];
            }
        }
        return;
    }
    HostPixel hp;
    for (int32_t row = 0; row < img->Height; ++row) {
        int64_t offset = img->RowOffsets[std::size_t(row)];
        for (int32_t c = 0; c < img->Width; ++c, offset += img->PixelStep, px += 4) {
            img->ReadPixel(offset, &hp);
            px[r] = uint16_t(hp.R);
            px[1] = uint16_t(hp.G);
            px[b] = uint16_t(hp.B);
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
    look.AspectX = op.Frame.AspectX;
    look.AspectY = op.Frame.AspectY;
    look.Lifetime = op.Frame.Lifetime;
    look.MaximumSize = op.Frame.MaximumSize;
    look.ProxyX = op.Frame.ProxyScaleX;
    look.ProxyY = op.Frame.ProxyScaleY;
    look.Fade = op.FadeEnabled != 0;
    look.Grow = op.GrowEnabled != 0;
    look.Tint = op.TintEnabled != 0;
    look.Blur = op.BlurEnabled != 0;
    if (look.Blur) {
        look.BlurCurve.Set(op.Frame.BlurLut);
        look.MaximumBlur = op.Frame.MaximumBlur;
        look.BlurPasses = std::clamp(op.Frame.BlurQuality, 1, 7);
    }
    if (look.Fade) look.Merge.Set(op.Frame.MergeLut);
    if (look.Grow) look.GrowCurve.Set(op.Frame.GrowLut);
    if (look.Tint) {
        look.Red.Set(op.Frame.RedLut);
        look.Green.Set(op.Frame.GreenLut);
        look.Blue.Set(op.Frame.BlueLut);
        look.Morph.Set(op.Frame.MorphLut);
    }
    look.M = Limit16(op.Frame.Merge * 65535.0);
    look.Quality = unsigned(op.Frame.HighQuality);

    // A captured set with no levels draws from the host images instead.
    if (op.PreloadedPresent && op.PreloadedShapes.Count() > 0) {
        const bool working = op.WorkingPresent && op.Frame.ProxyScaleX != 1.0 &&
                             op.WorkingShapes.Count() == op.PreloadedShapes.Count();
        look.Levels = working ? &op.WorkingShapes : &op.PreloadedShapes;
        look.Working = working;
    } else if (op.SourceIsReduced()) {
        look.UseShared = true;
        look.Shared = op.ProxyShapeCopy;
    } else if (op.Frame.ApplyBirthImage != 0) {
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

    // Blur at this age: sigma = b / 65535 * MaximumBlur * 0.1 output pixels,
    // scaled by the proxy factors; below half a pixel the particle is sharp.
    int64_t X = plan.X, Y = plan.Y, w = plan.W, h = plan.H;
    if (look.Blur) {
        const double sigma = look.BlurCurve.Value(t) / 65535.0 * look.MaximumBlur * 0.1;
        const double sx = sigma * std::fabs(look.ProxyX), sy = sigma * std::fabs(look.ProxyY);
        if (std::max(sx, sy) >= 0.5) {
            plan.BlurX = MakeBlurAxis(sx, look.BlurPasses);
            plan.BlurY = MakeBlurAxis(sy, look.BlurPasses);
            X -= plan.BlurX.Reach;
            Y -= plan.BlurY.Reach;
            w += 2 * int64_t(plan.BlurX.Reach);
            h += 2 * int64_t(plan.BlurY.Reach);
            // A picture grown past the size limit draws nothing.
            if (w * h > MaxParticlePixels || X < -2147483647 || Y < -2147483647) return false;
            plan.Blurred = plan.BlurX.Passes > 0 || plan.BlurY.Passes > 0;
        }
    }
    plan.DrawX = int32_t(X);
    plan.DrawY = int32_t(Y);

    // Clipping against the output.
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

// Whether an image reads and writes its pixels with this host's own routines.
bool SameRoutines(const Image* img) {
    static const auto routines = [] {
        Image* probe = new Image(1, 1);
        const auto fns = std::make_pair(probe->ReadPixelFn, probe->WritePixelFunc);
        probe->Recycle();
        return fns;
    }();
    return img->ReadPixelFn == routines.first && img->WritePixelFunc == routines.second;
}

// Whether an image keeps its pixels as this host's images do, so that its
// 16-bit words may be read and written directly with what the routines give.
bool DirectAccess(const Image* out) {
    if (!SameRoutines(out)) return false;
    if (out->PixelStep < 8 || out->PixelStep % 2 != 0) return false;
    for (int64_t offset : out->RowOffsets)
        if (offset < 0 || offset % 2 != 0) return false;
    return true;
}

// Draws one particle whole, the plain way: full picture, then the blend pixel by
// pixel through the output's routines. A blurred picture is blurred whole by
// the plain blur when plainBlur is set, else only its drawn part is made (the
// same pixels, in time and memory bounded by the output's size).
void DrawParticleReference(const FrameLook& look, const Particle& p, bool plainBlur = true) {
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

namespace {

// Whether a host image's pixels can be read in place by the kernels: this host's
// own routines and layout, rows one after the other without gaps.
bool ContiguousDirect(const Image* img) {
    // Rows in this order are offsets DirectAccess accepts: only its checks of
    // the routines are needed (every particle's image is checked, each frame).
    if (!SameRoutines(img) || img->PixelStep != 8) return false;
    for (int32_t r = 0; r < img->Height; ++r)
        if (img->RowOffsets[std::size_t(r)] != int64_t(r) * img->Width * 8) return false;
    return true;
}

// A source shape of the frame in the kernels' form: blue, green, red, alpha
// words (the output's order, so the blend needs no reordering), read in place
// from a host image or made once for the frame from a captured level (mixed
// with the next level where the particle's age falls between the two) or from a
// host image with routines of its own; for the spline, also as doubles.
struct FrameSource {
    enum class Kind { InPlace, HostImage, Level };
    Kind From = Kind::InPlace;
    const Image* Img = nullptr;
    const ShapeLevel* Level = nullptr;
    const ShapeLevel* Next = nullptr;
    uint32_t Mix = 0;
    bool MakeWide = false;
    SourceView View;
    std::vector<uint16_t> Words;
    std::vector<double> WideWords;
    std::vector<uint8_t> ClearMap;
    bool Ready = false;
};

// What tells a plan's source apart: images read in place by their pixels
// (copies of one shape share them), the others by what they are made from.
// Worked out with the plan, on the workers, so that finding the sources (on
// one thread) need not reach into every particle's image.
struct SourceId {
    FrameSource::Kind From = FrameSource::Kind::InPlace;
    const void* Id = nullptr;
    const ShapeLevel* Next = nullptr;
    uint32_t Mix = 0;
    int32_t W = 0, H = 0;
    bool operator==(const SourceId&) const = default;
};

// A frame's plans: per live particle its plan, whether it is drawn (0: not
// drawn, 1: drawn, 2: drawn blurred), its source's identity and its first and
// last band (ParticleOperator::CompositeBuffers).
struct PlanBuffers {
    std::vector<ParticlePlan> Plans;
    std::vector<uint8_t> Planned;
    std::vector<SourceId> SourceIds;
    std::vector<std::pair<int32_t, int32_t>> BandRange;
};

SourceId SourceIdOf(const ParticlePlan& plan, bool inPlace) {
    using Kind = FrameSource::Kind;
    SourceId sid;
    sid.From = plan.Level ? Kind::Level : inPlace ? Kind::InPlace : Kind::HostImage;
    sid.W = plan.Level ? plan.Level->Width : plan.Img->Width;
    sid.H = plan.Level ? plan.Level->Height : plan.Img->Height;
    sid.Next = plan.Level ? plan.Next : nullptr;
    sid.Mix = sid.Next ? plan.Mix : 0;
    sid.Id = sid.From == Kind::InPlace     ? static_cast<const void*>(plan.Img->Data())
             : sid.From == Kind::HostImage ? static_cast<const void*>(plan.Img)
                                           : static_cast<const void*>(plan.Level);
    return sid;
}

// A captured level (red, green, blue, alpha), or its mix with the next level,
// in blue, green, red, alpha order. The mix works word by word, so its order
// does not matter.
void ReadLevelBgra(const ShapeLevel& level, const ShapeLevel* next, uint32_t mix, std::vector<uint16_t>& out) {
    const std::size_t n = std::size_t(level.Width) * std::size_t(level.Height);
    out.resize(n * 4);
    const uint16_t* cur = level.Pixels.data();
    uint16_t* px = out.data();
    if (!next) {
        for (std::size_t i = 0; i < n; ++i, cur += 4, px += 4) {
            px[0] = cur[2];
            px[1] = cur[1];
            px[2] = cur[0];
            px[3] = cur[3];
        }
        return;
    }
    const uint32_t m = mix, keep = 65535u - mix;
    const uint16_t* nxt = next->Pixels.data();
    auto mixed = [&](int ch) { return uint16_t(((nxt[ch] * m) >> 16) + ((cur[ch] * keep) >> 16)); };
    for (std::size_t i = 0; i < n; ++i, cur += 4, nxt += 4, px += 4) {
        px[0] = mixed(2);
        px[1] = mixed(1);
        px[2] = mixed(0);
        px[3] = mixed(3);
    }
}

void MakeSource(FrameSource& s) {
    try {
        if (s.From == FrameSource::Kind::HostImage) {
            ReadImagePixels(s.Img, s.Words, true);
            s.View = ViewOf(s.Words.data(), s.Img->Width, s.Img->Height);
        } else if (s.From == FrameSource::Kind::Level) {
            ReadLevelBgra(*s.Level, s.Next, s.Mix, s.Words);
            s.View = ViewOf(s.Words.data(), s.Level->Width, s.Level->Height);
        }
        if (s.MakeWide) AddWideAndClear(s.View, s.WideWords, s.ClearMap);
        s.Ready = true;
    } catch (const std::bad_alloc&) {
        s.Words = {};
        s.WideWords = {};
        s.ClearMap = {};
        s.Ready = false;  // the particles drawn from it are skipped
    }
}

// The frame's sources: each distinct one made once, as long as all of them fit
// in the budget (the doubles for the spline only when they fit too); a particle
// whose source is over the budget makes its own copy in each band that draws it.
class FrameSources {
public:
    FrameSources(std::size_t budget, bool spline) : Budget(budget), Spline(spline) {}

    // The index of plan's source (sid), or -1 when the particle makes its own.
    int32_t Find(const ParticlePlan& plan, const SourceId& sid) {
        // Particles of one shape mostly come one after another: the answer
        // for the one before, when this one has the same source.
        if (LastIndex == NotFound || !(sid == LastId)) {
            LastId = sid;
            LastIndex = Look(plan, sid);
        }
        return LastIndex;
    }

    std::vector<FrameSource> Sources;
    std::vector<int32_t> ToMake;  // the sources to make before the bands

private:
    int32_t Look(const ParticlePlan& plan, const SourceId& sid) {
        using Kind = FrameSource::Kind;
        const Kind from = sid.From;
        const int32_t w = sid.W, h = sid.H;
        auto [first, last] = Index.equal_range(sid.Id);
        for (auto it = first; it != last; ++it) {
            const FrameSource& s = Sources[std::size_t(it->second)];
            if (s.From != from || s.Next != sid.Next || s.Mix != sid.Mix) continue;
            if (from == Kind::InPlace && (s.View.W != w || s.View.H != h)) continue;
            return it->second;
        }
        FrameSource key;
        key.From = from;
        std::size_t bytes = 0;
        if (from == Kind::Level) {
            key.Level = plan.Level;
            key.Next = sid.Next;
            key.Mix = sid.Mix;
            bytes = std::size_t(w) * std::size_t(h) * 8;
        } else if (from == Kind::InPlace) {
            key.Img = plan.Img;
            key.View = ViewOf(plan.Img->Data(), w, h);
            key.Ready = true;
        } else {
            key.Img = plan.Img;
            bytes = std::size_t(w) * std::size_t(h) * 8;
        }
        const std::size_t left = Budget - std::min(Budget, Used);
        if (bytes > left) return -1;
        const std::size_t wide = Spline ? WideAndClearBytes(w, h) : 0;
        key.MakeWide = wide > 0 && bytes + wide <= left;
        Used += bytes + (key.MakeWide ? wide : 0);
        const int32_t index = int32_t(Sources.size());
        const bool make = bytes > 0 || key.MakeWide;
        if (make) key.Ready = false;
        Sources.push_back(std::move(key));
        Index.emplace(sid.Id, index);
        if (make) ToMake.push_back(index);
        return index;
    }

    static constexpr int32_t NotFound = INT32_MIN;
    SourceId LastId;
    int32_t LastIndex = NotFound;
    std::size_t Budget, Used = 0;
    bool Spline;
    std::unordered_multimap<const void*, int32_t> Index;
};

// A particle's source when it makes its own (over the budget): into the
// worker's scratch.
bool OwnSource(const ParticlePlan& plan, std::vector<uint16_t>& scratch, SourceView& view) {
    try {
        if (plan.Level) {
            ReadLevelBgra(*plan.Level, plan.Next, plan.Next ? plan.Mix : 0, scratch);
            view = ViewOf(scratch.data(), plan.Level->Width, plan.Level->Height);
        } else {
            ReadImagePixels(plan.Img, scratch, true);
            view = ViewOf(scratch.data(), plan.Img->Width, plan.Img->Height);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The tint of a plan in blue, green, red order.
TintWords TintOf(const ParticlePlan& plan) {
    TintWords t;
    t.Keep = uint16_t(65535u - plan.TW);
    t.Add[0] = uint16_t((plan.TB * plan.TW) >> 16);
    t.Add[1] = uint16_t((plan.TG * plan.TW) >> 16);
    t.Add[2] = uint16_t((plan.TR * plan.TW) >> 16);
    return t;
}

// n particle pixels (blue, green, red, alpha) blended over the output through
// its read-pixel and write-pixel routines, from byte offset on.
void BlendThroughRoutines(Image* out, int64_t offset, const uint16_t* P, int32_t n, uint32_t F, uint32_t M) {
    const Blend blend{F, M};
    HostPixel hp;
    uint32_t bg[4], res[4];
    for (int32_t c = 0; c < n; ++c, P += 4, offset += out->PixelStep) {
        out->ReadPixel(offset, &hp);
        bg[0] = hp.B;
        bg[1] = hp.G;
        bg[2] = hp.R;
        bg[3] = hp.A;
        const uint16_t px[4] = {P[2], P[1], P[0], P[3]};  // Blend takes red, green, blue, alpha
        blend(bg, px, res);
        hp.B = res[0];
        hp.G = res[1];
        hp.R = res[2];
        hp.A = res[3];
        out->WritePixel(offset, &hp);
    }
}

// A pass that runs Fn(begin, end) over the items 0 .. count - 1, in chunks of
// size items.
template <class Fn>
struct RangePass final : WorkerPass {
    Fn& F;
    int32_t Count, Size;
    RangePass(Fn& f, int32_t count, int32_t size) : F(f), Count(count), Size(size) {}
    long Chunks() const { return (long(Count) + Size - 1) / Size; }
    void Run(long chunk) override {
        const int32_t begin = int32_t(chunk * Size);
        F(begin, int32_t(std::min<long>(long(begin) + Size, Count)));
    }
};

// The output's pixels, copied from the background it shared them with by the
// workers, each band's rows by the worker that draws the band, before it first
// draws there: the copy of a large frame then runs on every core. Any band not
// copied when compositing ends (an exception on the way, say) is copied on
// destruction, so the output never keeps unset words.
struct BackgroundCopy {
    std::shared_ptr<const uint16_t[]> From;
    uint16_t* To = nullptr;
    std::size_t RowWords = 0;
    int32_t Rows = 0, BandRows = 1;
    std::vector<uint8_t> Done;

    BackgroundCopy(Image* out, int32_t bandRows) {
        // Only an output whose rows lie one after the other, in this host's
        // layout, is copied by rows; any other takes its own pixels here.
        if (!ContiguousDirect(out)) {
            (void)out->Data();
            return;
        }
        From = out->UnshareUnset();
        if (!From) return;
        To = out->Data();
        RowWords = std::size_t(out->Width) * 4;
        Rows = out->Height;
        BandRows = bandRows;
        Done.assign(std::size_t((Rows + BandRows - 1) / BandRows), 0);
    }
    BackgroundCopy(const BackgroundCopy&) = delete;
    BackgroundCopy& operator=(const BackgroundCopy&) = delete;
    ~BackgroundCopy() {
        for (std::size_t b = 0; b < Done.size(); ++b) Band(int32_t(b));
    }
    // Copies band b unless it is done.
    void Band(int32_t b) {
        if (!From || std::size_t(b) >= Done.size() || Done[std::size_t(b)]) return;
        const std::size_t y0 = std::size_t(b) * std::size_t(BandRows);
        const std::size_t y1 = std::min(y0 + std::size_t(BandRows), std::size_t(Rows));
        std::copy(From.get() + y0 * RowWords, From.get() + y1 * RowWords, To + y0 * RowWords);
        Done[std::size_t(b)] = 1;
    }
};

}  // namespace

// One compositing pass: the frame's look, its particles' plans and sources, and
// for every band of output rows the plans that cross it, oldest first.
// ProcessChunk runs its chunks: first the sources to make, then, wave after
// wave of particles (oldest first), the wave's blurred pictures and its part of
// every band.
struct CompositePass final : WorkerPass {
    enum class Stage { MakeSources, PrepareBlurred, Bands };
    Stage Current = Stage::MakeSources;
    const FrameLook* Look = nullptr;
    const std::vector<ParticlePlan>* Plans = nullptr;
    std::vector<int32_t> PlanSource;  // per plan: its source, or -1 for its own
    FrameSources* Sources = nullptr;
    std::vector<int32_t> BandStart, BandPlans;  // plans of band b: BandPlans[BandStart[b] .. BandStart[b + 1])
    int32_t BandRows = 1;
    bool Contiguous = false;  // output rows of 8-byte pixels read and written in place
    const PixelKernels* Kernels = nullptr;
    // Blurred particles whose drawn part is made before the bands: per plan
    // its index in ToPrepare and Prepared, or -1 when it alone is over the
    // budget and each band makes the rows it needs.
    std::vector<int32_t> PreparedOf, ToPrepare;
    std::vector<std::vector<uint16_t>> Prepared;
    std::vector<uint8_t> PreparedReady;
    // The wave under way: its first picture to make, and the plans it draws
    // (index below WaveEnd); each band goes on from where the last wave left it.
    int32_t PrepareFirst = 0, WaveEnd = 0;
    std::vector<int32_t> Cursor;
    BackgroundCopy* Background = nullptr;

    void Run(long chunk) override {
        if (Current == Stage::MakeSources) {
            MakeSource(Sources->Sources[std::size_t(Sources->ToMake[std::size_t(chunk)])]);
            return;
        }
        if (Current == Stage::PrepareBlurred) {
            const int32_t i = ToPrepare[std::size_t(PrepareFirst + chunk)];
            const ParticlePlan& plan = (*Plans)[std::size_t(i)];
            const int32_t k = PreparedOf[std::size_t(i)];
            PreparedReady[std::size_t(k)] = MakeBlurredRows(i, plan.R0, plan.R1, Prepared[std::size_t(k)]);
            return;
        }
        DrawBand(int32_t(chunk));
    }

    // The source of plan i, from the frame's sources or made into own.
    bool ViewFor(int32_t i, std::vector<uint16_t>& own, SourceView& view) const {
        const int32_t s = PlanSource[std::size_t(i)];
        if (s < 0) return OwnSource((*Plans)[std::size_t(i)], own, view);
        const FrameSource& src = Sources->Sources[std::size_t(s)];
        if (!src.Ready) return false;
        view = src.View;
        return true;
    }

    // Rows r0 <= r < r1 of blurred plan i's grown picture, its drawn columns
    // only: the whole picture resampled and tinted, then blurred.
    bool MakeBlurredRows(int32_t i, int32_t r0, int32_t r1, std::vector<uint16_t>& out) const {
        static thread_local std::vector<uint16_t> own;
        const ParticlePlan& plan = (*Plans)[std::size_t(i)];
        SourceView view;
        if (!ViewFor(i, own, view)) return false;
        try {
            const std::size_t stride = std::size_t(plan.W) * 4;
            std::vector<uint16_t> picture(stride * std::size_t(plan.H));
            const TintWords tint = TintOf(plan);
            for (int32_t j = 0; j < plan.H; ++j) {
                uint16_t* row = picture.data() + std::size_t(j) * stride;
                if (Look->Quality)
                    Kernels->SplineRow(view, plan.Setup, j, 0, plan.W, row);
                else
                    Kernels->NearestRow(view, plan.Setup, j, 0, plan.W, row);
                if (plan.Tint) Kernels->TintRow(row, plan.W, tint);
            }
            out.resize(std::size_t(r1 - r0) * std::size_t(plan.C1 - plan.C0) * 4);
            BlurPictureRegion(picture.data(), plan.W, plan.H, plan.BlurX, plan.BlurY, r0, r1, plan.C0, plan.C1,
                              out.data());
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Band rows y0 <= y < y1 of blurred plan i, blended from its prepared
    // picture or from rows made here.
    void DrawBlurred(int32_t i, int32_t y0, int32_t y1) {
        static thread_local std::vector<uint16_t> made;
        const ParticlePlan& plan = (*Plans)[std::size_t(i)];
        const int32_t top = std::max(plan.DrawY + plan.R0, y0), bottom = std::min(plan.DrawY + plan.R1, y1);
        if (top >= bottom) return;
        const int32_t cw = plan.C1 - plan.C0;
        const uint16_t* rows = nullptr;
        const int32_t k = PreparedOf[std::size_t(i)];
        if (k >= 0) {
            if (!PreparedReady[std::size_t(k)]) return;
            rows = Prepared[std::size_t(k)].data() + std::size_t(top - plan.DrawY - plan.R0) * std::size_t(cw) * 4;
        } else {
            if (!MakeBlurredRows(i, top - plan.DrawY, bottom - plan.DrawY, made)) return;
            rows = made.data();
        }
        Image* out = Look->Out;
        for (int32_t y = top; y < bottom; ++y, rows += std::size_t(cw) * 4) {
            const int64_t offset = out->RowOffsets[std::size_t(y)] + int64_t(plan.DrawX + plan.C0) * out->PixelStep;
            if (Contiguous)
                Kernels->BlendRow(out->Data() + offset / 2, rows, cw, plan.F, Look->M);
            else
                BlendThroughRoutines(out, offset, rows, cw, plan.F, Look->M);
        }
    }

    // The plans of the wave crossing band b, oldest first: their rows in the
    // band resampled, tinted and blended one at a time (blurred ones blended
    // from their pictures).
    void DrawBand(int32_t b) {
        static thread_local std::vector<uint16_t> row, own;
        const int32_t y0 = b * BandRows;
        const int32_t y1 = std::min(y0 + BandRows, Look->OutH);
        Image* out = Look->Out;
        Background->Band(b);
        int32_t& k = Cursor[std::size_t(b)];
        for (; k < BandStart[std::size_t(b) + 1] && BandPlans[std::size_t(k)] < WaveEnd; ++k) {
            const int32_t i = BandPlans[std::size_t(k)];
            const ParticlePlan& plan = (*Plans)[std::size_t(i)];
            if (plan.Blurred) {
                DrawBlurred(i, y0, y1);
                continue;
            }
            SourceView view;
            const int32_t s = PlanSource[std::size_t(i)];
            if (s >= 0) {
                const FrameSource& src = Sources->Sources[std::size_t(s)];
                if (!src.Ready) continue;
                view = src.View;
            } else if (!OwnSource(plan, own, view)) {
                continue;
            }
            const int32_t cw = plan.C1 - plan.C0;
            if (row.size() < std::size_t(cw) * 4) row.resize(std::size_t(cw) * 4);
            const TintWords tint = TintOf(plan);
            const int32_t top = std::max(plan.Y + plan.R0, y0), bottom = std::min(plan.Y + plan.R1, y1);
            for (int32_t y = top; y < bottom; ++y) {
                const int32_t j = y - plan.Y;
                if (Look->Quality)
                    Kernels->SplineRow(view, plan.Setup, j, plan.C0, plan.C1, row.data());
                else
                    Kernels->NearestRow(view, plan.Setup, j, plan.C0, plan.C1, row.data());
                if (plan.Tint) Kernels->TintRow(row.data(), cw, tint);
                const int64_t offset = out->RowOffsets[std::size_t(y)] + int64_t(plan.X + plan.C0) * out->PixelStep;
                if (Contiguous)
                    Kernels->BlendRow(out->Data() + offset / 2, row.data(), cw, plan.F, Look->M);
                else
                    BlendThroughRoutines(out, offset, row.data(), cw, plan.F, Look->M);
            }
        }
    }
};

void CompositeParticlesBanded(ParticleOperator& op, Request* req, const CompositeOptions& options) {
    FrameLook look = LookAtFrame(op);
    if (!look.Out || look.OutW <= 0 || look.OutH <= 0) return;
    // The shared image is made into a source like any other (below); a missing
    // one draws nothing.
    look.SharedReady = look.Shared != nullptr;

    // The plans, made on the workers: each particle's placement, its mapping
    // into its source, what tells its source apart (with whether it is read in
    // place: a walk over the image's row offsets, for every particle) and the
    // bands it crosses. The particles not drawn are then dropped, keeping the
    // order.
    const int32_t live = std::clamp(op.Pool.LiveCount, 0, int32_t(PoolSize));
    // Bands of output rows; each plan's first and last band is found with it.
    const int32_t bandRows = options.BandRows > 0 ? options.BandRows : std::max(1, (look.OutH + 63) / 64);
    const int32_t bands = (look.OutH + bandRows - 1) / bandRows;
    // The buffers are the operator's, from frame to frame: every entry is
    // written afresh by the worker that plans it (PlanParticle starts from an
    // empty plan).
    if (!op.CompositeBuffers) op.CompositeBuffers = std::make_shared<PlanBuffers>();
    PlanBuffers& buffers = *static_cast<PlanBuffers*>(op.CompositeBuffers.get());
    std::vector<ParticlePlan>& plans = buffers.Plans;
    std::vector<uint8_t>& planned = buffers.Planned;
    std::vector<SourceId>& sourceIds = buffers.SourceIds;
    std::vector<std::pair<int32_t, int32_t>>& bandRange = buffers.BandRange;
    plans.resize(std::size_t(live));
    planned.resize(std::size_t(live));
    sourceIds.resize(std::size_t(live));
    bandRange.resize(std::size_t(live));
    auto planRange = [&](int32_t begin, int32_t end) {
        for (int32_t n = begin; n < end; ++n) {
            ParticlePlan& plan = plans[std::size_t(n)];
            planned[std::size_t(n)] = 0;
            if (!PlanParticle(look, op.LiveParticle(n), plan)) continue;
            planned[std::size_t(n)] = plan.Blurred ? 2 : 1;
            const int32_t sw = plan.Level ? plan.Level->Width : plan.Img->Width;
            const int32_t sh = plan.Level ? plan.Level->Height : plan.Img->Height;
            plan.Setup = MakeResampleSetup(sw, sh, float(plan.P->Angle), plan.Fx, plan.Fy, plan.W, plan.H, look.Ay, look.Ax);
            sourceIds[std::size_t(n)] = SourceIdOf(plan, !plan.Level && ContiguousDirect(plan.Img));
            bandRange[std::size_t(n)] = {(plan.DrawY + plan.R0) / bandRows, (plan.DrawY + plan.R1 - 1) / bandRows};
        }
    };
    RangePass<decltype(planRange)> planning(planRange, live, 1024);
    op.RunPass(planning, req, planning.Chunks());
    std::size_t kept = 0;
    bool anyBlurred = false;
    for (std::size_t n = 0; n < std::size_t(live); ++n) {
        if (!planned[n]) continue;
        anyBlurred |= planned[n] == 2;
        if (kept != n) {
            plans[kept] = plans[n];
            sourceIds[kept] = sourceIds[n];
            bandRange[kept] = bandRange[n];
        }
        ++kept;
    }
    plans.resize(kept);
    if (plans.empty()) return;

    CompositePass pass;
    pass.Look = &look;
    pass.Plans = &plans;
    pass.Kernels = &ActiveKernels();
    pass.Contiguous = DirectAccess(look.Out) && look.Out->PixelStep == 8;

    FrameSources sources(options.SourceCacheBytes, look.Quality != 0);
    pass.Sources = &sources;
    pass.PlanSource.resize(plans.size());
    for (std::size_t i = 0; i < plans.size(); ++i) pass.PlanSource[i] = sources.Find(plans[i], sourceIds[i]);

    // The plans that cross each band, oldest first.
    pass.BandRows = bandRows;
    pass.BandStart.assign(std::size_t(bands) + 1, 0);
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const auto [first, last] = bandRange[i];
        for (int32_t b = first; b <= last; ++b) ++pass.BandStart[std::size_t(b) + 1];
    }
    for (int32_t b = 0; b < bands; ++b) pass.BandStart[std::size_t(b) + 1] += pass.BandStart[std::size_t(b)];
    pass.BandPlans.resize(std::size_t(pass.BandStart[std::size_t(bands)]));
    {
        std::vector<int32_t> fill(pass.BandStart.begin(), pass.BandStart.end() - 1);
        for (std::size_t i = 0; i < plans.size(); ++i) {
            const auto [first, last] = bandRange[i];
            for (int32_t b = first; b <= last; ++b) pass.BandPlans[std::size_t(fill[std::size_t(b)]++)] = int32_t(i);
        }
    }

    // Blurred particles: their drawn parts are made before the bands draw them,
    // in waves of particles (oldest first) whose pictures fit in the budget
    // together. Each wave is drawn in every band before the next one starts,
    // so every pixel still takes the particles oldest first.
    struct Wave {
        int32_t PlanEnd, PrepareEnd;
    };
    std::vector<Wave> waves;
    pass.PreparedOf.assign(plans.size(), -1);
    {
        std::size_t used = 0;
        for (std::size_t i = 0; anyBlurred && i < plans.size(); ++i) {
            const ParticlePlan& plan = plans[i];
            if (!plan.Blurred) continue;
            const std::size_t bytes = std::size_t(plan.R1 - plan.R0) * std::size_t(plan.C1 - plan.C0) * 8;
            if (bytes > options.BlurredBytes) continue;  // made band by band
            if (used + bytes > options.BlurredBytes) {
                waves.push_back({int32_t(i), int32_t(pass.ToPrepare.size())});
                used = 0;
            }
            used += bytes;
            pass.PreparedOf[i] = int32_t(pass.ToPrepare.size());
            pass.ToPrepare.push_back(int32_t(i));
        }
        waves.push_back({int32_t(plans.size()), int32_t(pass.ToPrepare.size())});
        pass.Prepared.resize(pass.ToPrepare.size());
        pass.PreparedReady.assign(pass.ToPrepare.size(), 0);
    }
    pass.Cursor.assign(pass.BandStart.begin(), pass.BandStart.end() - 1);
    // The output is written by several workers at once: if it still shares its
    // pixels with another image (it starts as a copy of the background), it
    // takes its own now.
    BackgroundCopy background(look.Out, pass.BandRows);
    pass.Background = &background;

    if (!sources.ToMake.empty()) {
        pass.Current = CompositePass::Stage::MakeSources;
        op.RunPass(pass, req, long(sources.ToMake.size()));
    }
    for (const Wave& wave : waves) {
        if (wave.PrepareEnd > pass.PrepareFirst) {
            pass.Current = CompositePass::Stage::PrepareBlurred;
            op.RunPass(pass, req, long(wave.PrepareEnd - pass.PrepareFirst));
        }
        pass.Current = CompositePass::Stage::Bands;
        pass.WaveEnd = wave.PlanEnd;
        op.RunPass(pass, req, bands);
        for (int32_t k = pass.PrepareFirst; k < wave.PrepareEnd; ++k) pass.Prepared[std::size_t(k)] = {};
        pass.PrepareFirst = wave.PrepareEnd;
    }
}

void ParticleOperator::RunPass(WorkerPass& pass, Request* req, long chunks) {
    struct ActiveLink {
        ParticleOperator& Op;
        ~ActiveLink() { Op.ActivePass = nullptr; }
    } link{*this};
    ActivePass = &pass;
    DoMultiProcess(req, chunks);
}

void CompositeParticlesReference(ParticleOperator& op) {
    FrameLook look = LookAtFrame(op);
    if (!look.Out) return;
    PrepareShared(look);
    const int32_t live = std::clamp(op.Pool.LiveCount, 0, int32_t(PoolSize));
    for (int32_t n = 0; n < live; ++n) DrawParticleReference(look, op.LiveParticle(n));
}

void ParticleOperator::CompositeParticles(Request* req) { CompositeParticlesBanded(*this, req, CompositeOptions{}); }

void ParticleOperator::ProcessChunk(Request*, long chunk) {
    if (WorkerPass* pass = ActivePass) {
        pass->Run(chunk);
        return;
    }
    // Outside a pass of CompositeParticles a chunk is the chunk-th oldest live
    // particle, drawn by itself; the blend of a pixel must not interleave with
    // another chunk's, so such chunks draw one at a time.
    if (chunk < 0 || chunk >= Pool.LiveCount || chunk >= PoolSize) return;
    static std::mutex drawing;
    std::lock_guard<std::mutex> hold(drawing);
    FrameLook look = LookAtFrame(*this);
    PrepareShared(look);
    DrawParticleReference(look, LiveParticle(int32_t(chunk)), false);
}
