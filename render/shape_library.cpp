// Keeping the particle shapes current for one frame: the tool's own copy of the
// "Particle" input, the per-call copy of a scaled input, the captured shape
// sequence and its reduced working set.
#include "render/shape_library.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <utility>

#include "host/image.h"

namespace {

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

Image* ShapeLibrary::CopyOf(const Image* img) {
    if (!img) return nullptr;
    try {
        return img->CopyOfImage();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

ShapeLibrary::~ShapeLibrary() {
    if (ShapeCopy) ShapeCopy->Recycle();
    if (ProxyShapeCopy) ProxyShapeCopy->Recycle();
}

void ShapeLibrary::AdoptCopy(Image* img) {
    if (ShapeCopy) ShapeCopy->Recycle();
    ShapeCopy = img;
}

void ShapeLibrary::AdoptProxyCopy(Image* img) {
    if (ProxyShapeCopy) ProxyShapeCopy->Recycle();
    ProxyShapeCopy = img;
    ReleaseProxyShape = img ? 1 : 0;
}

void ShapeLibrary::SetCopyFlags(CopyFlags f) {
    FirstShapeCopy = f.FirstCopy;
    RefreshShapeCopies = f.RefreshCopies;
}

void ShapeLibrary::ResetForFlow() {
    RefreshShapeCopies = 0;
    FirstShapeCopy = 0;
    ReleaseProxyShape = 0;
    PreloadCapturing = 0;
    WorkingPresent = 0;
    WorkingShapes.Clear();
    Divisor = 1;
}

void ShapeLibrary::CaptureFrame(const Image* source, double time) {
    if (!PreloadCapturing || !source) return;
    const double t = time;
    if (t - std::trunc(t) != 0.0) return;
    const int32_t i = PreloadNext;
    // The set holds exactly the frames of the shape range as the pass started;
    // frames beyond it are not stored.
    if (i < 0 || i >= PreloadedShapes.Count()) return;

    const Image* src = source;
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

void ShapeLibrary::RefreshForPlayback(const Image* source, SourceScale scale) {
    if (!source) return;
    if (Image* copy = CopyOf(source)) {
        if (ShapeCopy) ShapeCopy->Recycle();
        ShapeCopy = copy;
    }
    if (scale.ScaledInBothAxes()) {
        ReleaseProxyCopy();
        ProxyShapeCopy = CopyOf(source);
        ReleaseProxyShape = ProxyShapeCopy ? 1 : 0;
    }
}

bool ShapeLibrary::RefreshForSimulation(const Image* source, SourceScale scale) {
    if (!source) return false;
    const bool fullSize = scale.FullSize();
    const bool reduced = scale.ScaledInBothAxes();
    bool refreshLive = false;

    // A source scaled in either axis only ever gives the first ShapeCopy; after
    // that the shape taken earlier stays for births.
    if (fullSize || !ShapeCopy) {
        if (Image* copy = CopyOf(source)) {
            if (!ShapeCopy)
                FirstShapeCopy = 1;
            else
                ShapeCopy->Recycle();
            ShapeCopy = copy;
            if (RefreshShapeCopies && fullSize) {
                // Particles born from a reduced first shape get the full-size one.
                refreshLive = true;
                RefreshShapeCopies = 0;
            }
            if (reduced && FirstShapeCopy) RefreshShapeCopies = 1;
        }
    }

    // A working set belongs to the captured set it was made from.
    if (WorkingPresent && (!PreloadedPresent || PreloadCapturing)) DiscardWorking();

    if (reduced) {
        if (PreloadedPresent && !PreloadCapturing) {
            const int32_t n = ProxyDivisor(scale.X);
            if (n != Divisor) RebuildWorking(n);
        }
        ReleaseProxyCopy();
        ProxyShapeCopy = CopyOf(source);
        ReleaseProxyShape = ProxyShapeCopy ? 1 : 0;
    }
    return refreshLive;
}

void ShapeLibrary::RebuildWorking(int32_t divisor) {
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
        DiscardWorking();
        return;
    }
    WorkingPresent = 1;
    Divisor = n;
}

void ShapeLibrary::DiscardWorking() {
    WorkingShapes.Clear();
    WorkingPresent = 0;
    Divisor = 1;
}

void ShapeLibrary::ReleaseProxyCopy() {
    if (!ReleaseProxyShape) return;
    if (ProxyShapeCopy) ProxyShapeCopy->Recycle();
    ProxyShapeCopy = nullptr;
    ReleaseProxyShape = 0;
}

bool ShapeLibrary::ReserveCapture(int32_t count) {
    // The earlier set goes, and with it the working set that was made from it.
    DeletePreloaded();
    try {
        PreloadedShapes.Levels.resize(std::size_t(count));
    } catch (const std::bad_alloc&) {
        PreloadedShapes.Clear();
        return false;
    }
    return true;
}

void ShapeLibrary::StartCapture() {
    PreloadNext = 0;
    PreloadCapturing = 1;
}

void ShapeLibrary::CompleteCapture() {
    PreloadCapturing = 0;
    PreloadedPresent = 1;
}

void ShapeLibrary::DropCapture() {
    PreloadedShapes.Clear();
    PreloadCapturing = 0;
}

void ShapeLibrary::AbandonCapture() {
    DeletePreloaded();
    // The remaining frames of the pass store nothing, and its end has nothing
    // to complete.
    PreloadCapturing = 0;
    PreloadNext = 0;
}

void ShapeLibrary::AdoptPreloaded(ShapeSet&& set) {
    PreloadedShapes.Levels = std::move(set.Levels);
    PreloadedPresent = 1;
}

// Takes no lock: the callers keep renders out (the delete button holds the render
// gate; the operator shell calls it where no render runs).
void ShapeLibrary::DeletePreloaded() {
    PreloadedShapes.Clear();
    PreloadedPresent = 0;
    DiscardWorking();
}

const ShapeSet* ShapeLibrary::DrawnSet(double proxyScaleX, bool& working) const {
    working = false;
    // A captured set with no levels draws from the host images instead.
    if (!PreloadedPresent || PreloadedShapes.Count() == 0) return nullptr;
    working = WorkingPresent && proxyScaleX != 1.0 && WorkingShapes.Count() == PreloadedShapes.Count();
    return working ? &WorkingShapes : &PreloadedShapes;
}
