// Keeping the particle shapes current for one frame: the operator's own copy of
// the "Particle" input, the per-call copy of a reduced input, the captured shape
// sequence and its reduced working set.
#include <cmath>
#include <cstddef>
#include <new>

#include "operator/particle_operator.h"

namespace {

// A new copy of an image, or null when it cannot be made.
Image* TryCopy(const Image* img) {
    if (!img) return nullptr;
    try {
        return img->CopyOfImage();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

// The divisor that brings the captured shapes down to a reduced input: 1 / scale,
// cut toward zero, and never below 1 (an input larger than its full size, or a
// scale that is no number, keeps the captured size).
int32_t ProxyDivisor(double scale) {
    const double r = 1.0 / scale;
    if (!(r >= 1.0)) return 1;
    if (r >= 65536.0) return 65536;
    return int32_t(r);
}

}  // namespace

void ParticleOperator::CapturePreloadShape(Request* req) {
    if (!PreloadCapturing || !ShapeSource) return;
    const double t = req->Time();
    if (t - std::trunc(t) != 0.0) return;
    const int32_t i = PreloadNext;
    // The set holds exactly the frames of the shape range as the pass started;
    // frames beyond it are not stored.
    if (i < 0 || i >= PreloadedShapes.Count()) return;

    const Image* src = ShapeSource;
    ShapeLevel& level = PreloadedShapes.Levels[std::size_t(i)];
    level.Width = src->Width;
    level.Height = src->Height;
    level.ScaleX = float(src->AspectX);
    level.ScaleY = float(src->AspectY);
    try {
        level.Pixels.assign(std::size_t(src->Width) * std::size_t(src->Height) * 4, 0);
    } catch (const std::bad_alloc&) {
        // Nothing is stored; the pass ends incomplete and says so at its end.
        level = ShapeLevel{};
        return;
    }
    uint16_t* out = level.Pixels.data();
    HostPixel px;
    for (int32_t y = 0; y < src->Height; ++y) {
        int64_t offset = src->RowOffsets[std::size_t(y)];
        for (int32_t x = 0; x < src->Width; ++x, offset += src->PixelStep, out += 4) {
            src->ReadPixel(offset, &px);
            out[0] = uint16_t(px.R);
            out[1] = uint16_t(px.G);
            out[2] = uint16_t(px.B);
            out[3] = uint16_t(px.A);
        }
    }
    PreloadNext = i + 1;
}

void ParticleOperator::RefreshShapesForPlayback() {
    if (!ShapeSource) return;
    if (Image* copy = TryCopy(ShapeSource)) {
        if (ShapeCopy) ShapeCopy->Recycle();
        ShapeCopy = copy;
    }
    if (SourceIsReduced()) {
        ReleaseProxyShapeCopy();
        ProxyShapeCopy = TryCopy(ShapeSource);
        ReleaseProxyShape = ProxyShapeCopy ? 1 : 0;
    }
}

void ParticleOperator::RefreshShapesForSimulation() {
    if (!ShapeSource) return;
    const bool fullSize = SourceIsFullSize();
    const bool reduced = SourceIsReduced();

    // A source that is not full size only ever gives the first ShapeCopy; after
    // that the shape taken earlier stays for births.
    if (fullSize || !ShapeCopy) {
        if (Image* copy = TryCopy(ShapeSource)) {
            if (!ShapeCopy)
                FirstShapeCopy = 1;
            else
                ShapeCopy->Recycle();
            ShapeCopy = copy;
            if (RefreshShapeCopies && fullSize) {
                // Particles born from a reduced first shape get the full-size one.
                for (int32_t n = 0; n < Pool.LiveCount; ++n) {
                    Particle& p = LiveParticle(n);
                    if (p.ShapeImage) p.ShapeImage->Recycle();
                    p.ShapeImage = TryCopy(ShapeCopy);
                }
                RefreshShapeCopies = 0;
            }
            if (reduced && FirstShapeCopy) RefreshShapeCopies = 1;
        }
    }

    // A working set belongs to the captured set it was made from.
    if (WorkingPresent && (!PreloadedPresent || PreloadCapturing)) DiscardWorkingShapes();

    if (reduced) {
        if (PreloadedPresent && !PreloadCapturing) {
            const int32_t n = ProxyDivisor(Frame.ProxyScaleX);
            if (n != WorkingDivisor) RebuildWorkingShapes(n);
        }
        ReleaseProxyShapeCopy();
        ProxyShapeCopy = TryCopy(ShapeSource);
        ReleaseProxyShape = ProxyShapeCopy ? 1 : 0;
    }
}

void ParticleOperator::RebuildWorkingShapes(int32_t divisor) {
    const int32_t n = divisor < 1 ? 1 : divisor;
    if (WorkingPresent) {
        WorkingShapes.Clear();
        WorkingPresent = 0;
    }
    try {
        ShapeSet set;
        set.Levels.resize(PreloadedShapes.Levels.size());
        for (std::size_t i = 0; i < set.Levels.size(); ++i) {
            const ShapeLevel& from = PreloadedShapes.Levels[i];
            ShapeLevel& to = set.Levels[i];
            to.ScaleX = from.ScaleX;
            to.ScaleY = from.ScaleY;
            // A level whose pixels are missing becomes an empty level rather
            // than being read past its end.
            if (from.Width <= 0 || from.Height <= 0 ||
                from.Pixels.size() < std::size_t(from.Width) * std::size_t(from.Height) * 4)
                continue;
            to.Width = from.Width / n;
            to.Height = from.Height / n;
            to.Pixels.resize(std::size_t(to.Width) * std::size_t(to.Height) * 4);
            uint16_t* out = to.Pixels.data();
            for (int32_t y = 0; y < to.Height; ++y) {
                for (int32_t x = 0; x < to.Width; ++x, out += 4) {
                    const uint16_t* in =
                        from.Pixels.data() +
                        (std::size_t(y) * std::size_t(n) * std::size_t(from.Width) + std::size_t(x) * std::size_t(n)) * 4;
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                    out[3] = in[3];
                }
            }
        }
        WorkingShapes = std::move(set);
    } catch (const std::bad_alloc&) {
        // Without a working set the captured shapes are drawn scaled instead.
        DiscardWorkingShapes();
        return;
    }
    WorkingPresent = 1;
    WorkingDivisor = n;
}

void ParticleOperator::DiscardWorkingShapes() {
    WorkingShapes.Clear();
    WorkingPresent = 0;
    WorkingDivisor = 1;
}

void ParticleOperator::ReleaseProxyShapeCopy() {
    if (!ReleaseProxyShape) return;
    if (ProxyShapeCopy) ProxyShapeCopy->Recycle();
    ProxyShapeCopy = nullptr;
    ReleaseProxyShape = 0;
}
