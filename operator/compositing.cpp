// The operator's side of compositing: the frame snapshot and the live particles
// handed to its compositor, and the chunks the host runs.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "operator/particle_operator.h"
#include "render/reference_render.h"

// The frame snapshot the compositor draws from: this request's settings, the
// switches read once, the output image and the shapes to draw.
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
    look.MaximumSize = op.Frame.Look.MaximumSize;
    look.ProxyX = op.Frame.ProxyScaleX;
    look.ProxyY = op.Frame.ProxyScaleY;
    look.Fade = op.FadeEnabled != 0;
    look.Grow = op.GrowEnabled != 0;
    look.Tint = op.TintEnabled != 0;
    look.Blur = op.BlurEnabled != 0;
    if (look.Blur) {
        look.BlurCurve.Set(op.Frame.Look.BlurLut);
        look.MaximumBlur = op.Frame.Look.MaximumBlur;
        look.BlurPasses = std::clamp(op.Frame.Look.BlurQuality, 1, 7);
    }
    if (look.Fade) look.Merge.Set(op.Frame.Look.MergeLut);
    if (look.Grow) look.GrowCurve.Set(op.Frame.Look.GrowLut);
    if (look.Tint) {
        look.Red.Set(op.Frame.Look.RedLut);
        look.Green.Set(op.Frame.Look.GreenLut);
        look.Blue.Set(op.Frame.Look.BlueLut);
        look.Morph.Set(op.Frame.Look.MorphLut);
    }
    look.M = Limit16(op.Frame.Look.Merge * 65535.0);
    look.Quality = unsigned(op.Frame.Look.HighQuality);
    // Motion blur: the shutter as step fractions around the frame's own state
    // (1), a shutter angle of 360 degrees being one whole step.
    const FrameSettings::Motions& motion = op.Frame.Motion;
    if (motion.Blur != 0 && motion.Samples >= 2) {
        const double span = std::isfinite(motion.ShutterAngle) ? std::clamp(motion.ShutterAngle, 0.0, 720.0) / 360.0 : 0.0;
        const double open = motion.ShutterOffset == 0 ? 1.0 : motion.ShutterOffset == 2 ? 1.0 - span : 1.0 - span / 2;
        look.MotionSamples = std::min(motion.Samples, 64);
        look.ShutterOpen = open;
        look.ShutterClose = open + span;
        look.AngleIsDirection = op.BankingEnabled.load() != 0;
    }

    // A captured set with no levels draws from the host images instead.
    bool working = false;
    if (const ShapeSet* levels = op.Shapes.DrawnSet(op.Frame.ProxyScaleX, working)) {
        look.Levels = levels;
        look.Working = working;
    } else if (op.ShapeSourceScale().ScaledInBothAxes()) {
        look.UseShared = true;
        look.Shared = op.Shapes.ProxyCopy();
    } else if (op.Frame.Birth.ApplyBirthImage != 0) {
        look.UseShared = true;
        look.Shared = op.Shapes.Copy();
    }
    return look;
}

LiveParticles ParticleOperator::LiveParticlesView() const {
    // Earlier states are kept only while motion blur is on.
    const ParticleBefore* before = Pool.Before.size() == std::size_t(PoolSize) ? Pool.Before.data() : nullptr;
    return LiveParticles(Pool.Particles, Pool.OldestIndex, Pool.LiveCount, before);
}

void ParticleOperator::CompositeParticles(Request*) {
    Compositing.Composite(LookAtFrame(*this), LiveParticlesView(), Passes);
}

void ParticleOperator::ProcessChunk(Request*, long chunk) {
    if (Passes.RunChunk(chunk)) return;
    // Outside a pass a chunk is the chunk-th oldest live particle, drawn by
    // itself; the blend of a pixel must not interleave with another chunk's,
    // so such chunks draw one at a time.
    if (chunk < 0 || chunk >= Pool.LiveCount || chunk >= PoolSize) return;
    static std::mutex drawing;
    std::lock_guard<std::mutex> hold(drawing);
    const LiveParticles live = LiveParticlesView();
    DrawParticleAlone(LookAtFrame(*this), live[int32_t(chunk)], live.Before(int32_t(chunk)));
}
