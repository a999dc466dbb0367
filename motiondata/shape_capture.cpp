// Capturing a sequence of particle shapes over the shape range ("Preload paricle
// shapes") and deleting it again. The capture itself happens frame by frame in
// the render that the start posts; the render end completes or abandons it.
#include <mutex>
#include <new>

#include "host/messages.h"
#include "motiondata/user_dialogs.h"
#include "operator/particle_operator.h"

namespace {

// More levels than any real shape range: a range this long is a mistake, and the
// level table alone would take a lot of memory.
constexpr int32_t MaxShapeFrames = 100000;

}  // namespace

// Frees the captured set and the working set derived from it. Takes no lock: the
// callers keep renders out (the delete button holds the render gate; the operator
// shell calls it where no render runs).
void ParticleOperator::DeletePreloadedShapes() {
    PreloadedShapes.Clear();
    PreloadedPresent = 0;
    DiscardWorkingShapes();
}

void ParticleOperator::OnPreloadShapes(double /*time*/) {
    std::lock_guard<std::mutex> gate(RenderGate);
    const int32_t count = Frame.ShapeFrameCount;
    if (count < 1 || count > MaxShapeFrames) {
        user_dialogs::Warn(count < 1 ? "Shape range is empty!" : "Shape range is too long!");
        return;
    }
    // The earlier set goes, and with it the working set that was made from it.
    DeletePreloadedShapes();
    try {
        PreloadedShapes.Levels.resize(size_t(count));
    } catch (const std::bad_alloc&) {
        PreloadedShapes.Clear();
        user_dialogs::Warn("Shape range is too long!");
        return;
    }
    PreloadNext = 0;
    SkipCompositing = 1;
    PreloadCapturing = 1;
    SetDisabled(InDeletePreloaded, 0);
    if (MsgPort* port = GetMsgPort()) {
        port->PutMsg(new RenderMessage(Frame.ImageStartFrame, Frame.ImageLastFrame, 0, nullptr, this, 0, 1));
    }
    SetDisabled(InPreloadShapes, 1);
}

void ParticleOperator::OnDeletePreloaded(double /*time*/) {
    std::lock_guard<std::mutex> gate(RenderGate);
    DeletePreloadedShapes();
    // Deleting during a capture pass abandons it: the remaining frames of that
    // render store nothing, and its end has nothing to complete.
    PreloadCapturing = 0;
    PreloadNext = 0;
    SetDisabled(InDeletePreloaded, 1);
    SetDisabled(InPreloadShapes, 0);
}
