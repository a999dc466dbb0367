// The frame driver: one call makes one frame. It refreshes the frame settings,
// carries out the requests that control changes left, keeps the shapes current,
// advances the simulation by one step (or rebuilds the frame from loaded motion
// data), composites the particles and hands the picture to the host.
#include "operator/particle_operator.h"

namespace {

// "Reset Position" (and the starts of a recording or a playback): the pool is
// emptied; a reset pressed by the user also stops recording and playback.
void ApplyPendingReset(ParticleOperator& op) {
    if (!op.ResetRequested.exchange(0)) return;
    op.ClearParticles();
    if (op.CloseFilesOnReset.exchange(0)) op.CloseMotionFiles();
}

void MakeOwedBirths(ParticleOperator& op) {
    while (op.BirthAccumulator >= 1.0) {
        op.BirthParticle();
        op.BirthAccumulator -= 1.0;
    }
}

// "FastForward": "Roll frames" x step iterations run before this frame's own,
// so the system is shown developed at once. Inside an iteration the step comes
// before the ageing. The iterations are not frames of a recording: PreRolling
// keeps them out of the file.
void RunPendingPreRoll(ParticleOperator& op) {
    if (!op.FastForwardRequested.exchange(0)) return;
    const double roll = op.RollFrames * op.SimStep;
    op.PreRolling = 1;
    for (int64_t i = 0; double(i) < roll; ++i) {
        op.BirthAccumulator += op.Birthrate * op.SimStep;
        MakeOwedBirths(op);
        op.StepParticles();
        op.AgeParticles();
    }
    op.PreRolling = 0;
}

// One frame step of the simulation, written to the recording while one runs.
void AdvanceSimulation(ParticleOperator& op, double time) {
    if (op.Recording) op.BeginRecordedFrame(time);
    op.BirthAccumulator += op.Birthrate * op.SimStep;
    op.RefreshShapesForSimulation();
    RunPendingPreRoll(op);
    MakeOwedBirths(op);
    op.AgeParticles();
    if (op.Recording) op.WriteFrameCounts();
    op.StepParticles();
    // Whatever of the frame's recording is still gathered goes to the file now.
    if (op.Recording) op.FlushRecordWrites();
}

}  // namespace

void ParticleOperator::Process(Request* req) {
    // Interface-side actions that free shapes or close files wait for the frame.
    std::lock_guard<std::mutex> gate(RenderGate);
    // Whatever way the call ends, the per-call links and the proxy copy go, and
    // an output image that was not handed over is given back.
    struct CallEnd {
        ParticleOperator& Op;
        ~CallEnd() {
            Op.PreRolling = 0;
            if (Op.OutputImage) Op.OutputImage->Recycle();
            Op.OutputImage = nullptr;
            Op.ReleaseProxyShapeCopy();
            Op.CurrentRequest = nullptr;
            Op.BackgroundImage = nullptr;
            Op.ShapeSource = nullptr;
        }
    } callEnd{*this};
    CurrentRequest = req;
    const double time = req->Time();

    RefreshScalarSettings(req);  // also makes OutputImage from the background
    ApplyPendingReset(*this);
    FinishFrameSettings(req);
    CapturePreloadShape(req);

    if (SystemLoaded) {
        RefreshShapesForPlayback();
        ReadMotionFrame(time);
    } else {
        AdvanceSimulation(*this, time);
    }

    // A simulate-only request gets the plain background: the host discards it.
    if (!SkipCompositing && !(req->Flags() & Request::FlagSimulateOnly)) CompositeParticles(req);

    req->SetOutputData(OutImage, OutputImage);  // the request takes the image
    OutputImage = nullptr;
}
