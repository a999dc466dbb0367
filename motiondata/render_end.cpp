// The end of every render: closes a finished recording, empties the pool and
// completes or abandons a shape capture.
#include <mutex>

#include "motiondata/user_dialogs.h"
#include "operator/particle_operator.h"

void ParticleOperator::OnEndRender() {
    std::lock_guard<std::mutex> gate(RenderGate);
    if (RecordFile != platform::NoFile) {
        FlushRecordWrites();
        platform::CloseAndForget(RecordFile);
        Recording = 0;
        RecordFrameInRange = 0;
        if (RecordFailed) {
            user_dialogs::ReportIncompleteRecording(RecordFailed);
        } else {
            user_dialogs::Inform("Output File written!", "Confirm");
        }
    }
    ClearParticles();
    Recording = 0;
    SkipCompositing = 0;
    if (Shapes.Capturing()) {
        if (Shapes.CaptureComplete()) {
            Shapes.CompleteCapture();
            return;
        }
        user_dialogs::Inform("Image Sequence not completed!", "Confirm");
        Shapes.DropCapture();
    }
}
