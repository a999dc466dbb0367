#pragma once
#include <atomic>
#include <cstdint>

#include "render/shape_set.h"

class Image;

// How the shape source compares with its full size, from the host's proxy scale
// pair (1 in an axis: that axis is at full size).
struct SourceScale {
    double X = 1.0, Y = 1.0;
    // Neither axis scaled: the shape copy follows the source every frame.
    bool FullSize() const { return X == 1.0 && Y == 1.0; }
    // Both axes scaled (a proxy render): the source is copied once per call for
    // drawing, and a captured set is drawn from a reduced working set. A source
    // scaled in one axis only is neither this nor FullSize(): it keeps the first
    // shape copy for births and draws from that copy.
    bool ScaledInBothAxes() const { return X != 1.0 && Y != 1.0; }
};

// The particle shapes of one tool: its own copy of the "Particle" input (births
// take copies of it), the per-call copy of a scaled input, the captured shape
// sequence ("Preload paricle shapes") and the working set reduced from it.
//
// The flags are shared between the interface side (the capture buttons, the
// render end) and the render thread, so they are atomic. The sets and copies
// themselves are only touched under the operator's render gate.
class ShapeLibrary {
public:
    // More levels than any real shape range: a range this long is a mistake, and
    // the level table alone would take a lot of memory.
    static constexpr int32_t MaxCaptureFrames = 100000;

    ShapeLibrary() = default;
    ShapeLibrary(const ShapeLibrary&) = delete;
    ShapeLibrary& operator=(const ShapeLibrary&) = delete;
    ~ShapeLibrary();

    // A new copy of an image, or null when there is none or it cannot be made.
    static Image* CopyOf(const Image* img);

    // --- the copies of the host's shape input ---
    // The shape births copy (null before the first frame with a shape input).
    Image* Copy() const { return ShapeCopy; }
    // Takes over img (may be null) in place of the copy, which is given back.
    void AdoptCopy(Image* img);
    // The copy of a source scaled in both axes, made for one call.
    Image* ProxyCopy() const { return ProxyShapeCopy; }
    // Takes over img (may be null) as the per-call copy, giving back the old one.
    void AdoptProxyCopy(Image* img);
    // Gives back the per-call copy at the end of a call.
    void ReleaseProxyCopy();

    // Keeps the copies current for a frame rebuilt from motion data.
    void RefreshForPlayback(const Image* source, SourceScale scale);
    // Keeps the copies and the working set current for a simulated frame. True
    // when the live particles, born from a scaled first shape, are to take
    // copies of the full-size Copy() now.
    bool RefreshForSimulation(const Image* source, SourceScale scale);

    // Bookkeeping of the copies that a saved simulation state carries.
    struct CopyFlags {
        int32_t FirstCopy = 0, RefreshCopies = 0;
    };
    CopyFlags GetCopyFlags() const { return {FirstShapeCopy.load(), RefreshShapeCopies.load()}; }
    void SetCopyFlags(CopyFlags f);

    // Entering a flow: no capture, no working set, no copy bookkeeping. The
    // captured set stays (a restored tool brings it from its saved block).
    void ResetForFlow();

    // --- capture ---
    // Drops the earlier captured set and makes room for count levels; false (and
    // nothing held) when they cannot be allocated.
    bool ReserveCapture(int32_t count);
    // Starts storing one level per whole frame, from the first.
    void StartCapture();
    // Stores the source as the next level when time is a whole frame number and
    // levels are left; a frame without memory for its level stores nothing.
    void CaptureFrame(const Image* source, double time);
    bool Capturing() const { return PreloadCapturing != 0; }
    // Every level of the pass is stored.
    bool CaptureComplete() const { return PreloadNext == PreloadedShapes.Count(); }
    int32_t CapturedCount() const { return PreloadNext; }
    // Ends a complete pass: its set becomes the captured set.
    void CompleteCapture();
    // Ends an incomplete pass: what it stored goes.
    void DropCapture();
    // The delete button during or after a pass: the set goes and the rest of the
    // pass stores nothing.
    void AbandonCapture();

    // --- the captured set ---
    bool HasPreloaded() const { return PreloadedPresent != 0; }
    const ShapeSet& Preloaded() const { return PreloadedShapes; }
    // Takes over a complete set (read from a saved block) as the captured set.
    // A working set held is left as it is: the tool reads its block before any
    // working set exists.
    void AdoptPreloaded(ShapeSet&& set);
    // Frees the captured set and the working set made from it.
    void DeletePreloaded();

    // --- the working set ---
    bool HasWorking() const { return WorkingPresent != 0; }
    const ShapeSet& Working() const { return WorkingShapes; }
    int32_t WorkingDivisor() const { return Divisor; }
    // Every level of the captured set with every divisor-th pixel in each axis.
    void RebuildWorking(int32_t divisor);
    void DiscardWorking();

    // The set compositing draws from: the working set in a reduced render whose
    // set matches the captured one, else the captured set; null when none is
    // captured or it has no levels. working tells which.
    const ShapeSet* DrawnSet(double proxyScaleX, bool& working) const;

private:
    Image* ShapeCopy = nullptr;
    Image* ProxyShapeCopy = nullptr;
    std::atomic<int32_t> RefreshShapeCopies{0}, FirstShapeCopy{0}, ReleaseProxyShape{0};

    ShapeSet PreloadedShapes, WorkingShapes;
    std::atomic<int32_t> PreloadedPresent{0}, PreloadCapturing{0}, WorkingPresent{0};
    int32_t PreloadNext = 0, Divisor = 1;
};
