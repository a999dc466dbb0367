#include "render/frame_look.h"

#include <algorithm>

#include "operator/particle_operator.h"

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
    look.Blur = op.BlurEnabled != 0;
    if (look.Blur) {
        look.BlurCurve.Set(op.BlurLut);
        look.MaximumBlur = op.MaximumBlur;
        look.BlurPasses = std::clamp(op.BlurQuality, 1, 7);
    }
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
    bool working = false;
    if (const ShapeSet* levels = op.Shapes.DrawnSet(op.ProxyScaleX, working)) {
        look.Levels = levels;
        look.Working = working;
    } else if (op.ShapeSourceScale().ScaledInBothAxes()) {
        look.UseShared = true;
        look.Shared = op.Shapes.ProxyCopy();
    } else if (op.ApplyBirthImage != 0) {
        look.UseShared = true;
        look.Shared = op.Shapes.Copy();
    }
    return look;
}
