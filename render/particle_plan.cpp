#include "render/particle_plan.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double OneOver65535 = 1.5259021896696422e-5;
// Largest particle picture drawn, in pixels (a 2 GiB buffer); a larger one
// counts as one that cannot be allocated and the particle is skipped.
constexpr int64_t MaxParticlePixels = int64_t(1) << 28;

// Cuts a double toward zero into an int32; false for no number or a value too
// large to be a size or a position. Very negative values become -2^31 + 1.
bool CutToInt(double v, int32_t& out) {
    if (std::isnan(v) || v >= 2147483647.0) return false;
    out = v <= -2147483647.0 ? -2147483647 : int32_t(v);
    return true;
}

}  // namespace

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
