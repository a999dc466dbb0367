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
            user_dialogs::Inform(platform::MessageKind::RecordingWritten, "Output File written!", "Confirm");
        }
    }
    ClearParticles();
    Recording = 0;
    SkipCompositing = 0;
    if (PreloadCapturing) {
        if (PreloadNext == PreloadedShapes.Count()) {
            PreloadCapturing = 0;
            PreloadedPresent = 1;
            return;
        }
        user_dialogs::Inform(platform::MessageKind::CaptureIncomplete, "Image Sequence not completed!", "Confirm");
        PreloadedShapes.Clear();
        PreloadCapturing = 0;
    }
}
