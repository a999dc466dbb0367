// The buttons that capture a sequence of particle shapes over the shape range
// ("Preload paricle shapes") and delete it again. The capture itself happens frame
// by frame in the render that the start posts; the render end completes or
// abandons it.
#include <mutex>

#include "host/messages.h"
#include "operator/user_dialogs.h"
#include "operator/particle_operator.h"

void ParticleOperator::OnPreloadShapes(double /*time*/) {
    std::lock_guard<std::mutex> gate(RenderGate);
    const int32_t count = Frame.Range.ShapeFrameCount;
    if (count < 1 || count > ShapeLibrary::MaxCaptureFrames) {
        if (count < 1)
            user_dialogs::Warn(platform::MessageKind::CaptureRangeEmpty, "Shape range is empty!");
        else
            user_dialogs::Warn(platform::MessageKind::CaptureRangeTooLong, "Shape range is too long!");
        return;
    }
    if (!Shapes.ReserveCapture(count)) {
        user_dialogs::Warn(platform::MessageKind::CaptureRangeTooLong, "Shape range is too long!");
        return;
    }
    SkipCompositing = 1;
    Shapes.StartCapture();
    SetDisabled(InDeletePreloaded, 0);
    if (MsgPort* port = GetMsgPort()) {
        port->PutMsg(new RenderMessage(Frame.Range.ImageStartFrame, Frame.Range.ImageLastFrame, 0, nullptr, this, 0, 1));
    }
    SetDisabled(InPreloadShapes, 1);
}

void ParticleOperator::OnDeletePreloaded(double /*time*/) {
    std::lock_guard<std::mutex> gate(RenderGate);
    Shapes.AbandonCapture();
    SetDisabled(InDeletePreloaded, 1);
    SetDisabled(InPreloadShapes, 0);
}
