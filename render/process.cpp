// The frame driver: one call makes one frame. It refreshes the frame settings,
// carries out the requests that control changes left, keeps the shapes current,
// advances the simulation by one step (or rebuilds the frame from loaded motion
// data), composites the particles and hands the picture to the host.
#include "operator/particle_operator.h"

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

    if (ResetRequested.exchange(0)) {
        ClearParticles();
        if (CloseFilesOnReset.exchange(0)) CloseMotionFiles();
    }

    FinishFrameSettings(req);
    CapturePreloadShape(req);

    if (SystemLoaded) {
        RefreshShapesForPlayback();
        ReadMotionFrame(time);
    } else {
        if (Recording) BeginRecordedFrame(time);
        BirthAccumulator += Birthrate * SimStep;
        RefreshShapesForSimulation();

        if (FastForwardRequested.exchange(0)) {
            // Pre-roll: the system is run on to its developed state. Its steps
            // are not frames of a recording, so nothing of them is written.
            const double roll = RollFrames * SimStep;
            PreRolling = 1;
            for (int64_t i = 0; double(i) < roll; ++i) {
                BirthAccumulator += Birthrate * SimStep;
                while (BirthAccumulator >= 1.0) {
                    BirthParticle();
                    BirthAccumulator -= 1.0;
                }
                StepParticles();
                AgeParticles();
            }
            PreRolling = 0;
        }

        while (BirthAccumulator >= 1.0) {
            BirthParticle();
            BirthAccumulator -= 1.0;
        }
        AgeParticles();
        if (Recording) WriteFrameCounts();
        StepParticles();
    }

    // A simulate-only request gets the plain background: the host discards it.
    if (!SkipCompositing && !(req->Flags() & Request::FlagSimulateOnly)) CompositeParticles(req);

    req->SetOutputData(OutImage, OutputImage);  // the request takes the image
    OutputImage = nullptr;
}
