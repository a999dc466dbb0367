// The frame driver: one call makes one frame. It refreshes the frame settings,
// carries out the requests that control changes left, keeps the shapes current,
// advances the simulation by one step (or rebuilds the frame from loaded motion
// data), composites the particles and hands the picture to the host.
#include "operator/particle_operator.h"
#include "simulation/step_settings.h"

namespace {

// "Reset Position" (and the starts of a recording or a playback): the pool is
// emptied; a reset pressed by the user also stops recording and playback.
void ApplyPendingReset(ParticleOperator& op) {
    if (!op.ResetRequested.exchange(0)) return;
    op.ClearParticles();
    if (op.CloseFilesOnReset.exchange(0)) op.CloseMotionFiles();
}

void MakeOwedBirths(ParticleOperator& op) {
    while (op.Pool.BirthAccumulator >= 1.0) {
        op.BirthParticle();
        op.Pool.BirthAccumulator -= 1.0;
    }
}

// "FastForward": "Roll frames" x step iterations run before this frame's own,
// so the system is shown developed at once. Inside an iteration the step comes
// before the ageing. The iterations are not frames of a recording: nothing of
// them goes into the file.
void RunPendingPreRoll(ParticleOperator& op) {
    if (!op.FastForwardRequested.exchange(0)) return;
    const double roll = op.Frame.Range.RollFrames * op.Frame.SimStep;
    for (int64_t i = 0; double(i) < roll; ++i) {
        op.Pool.BirthAccumulator += op.Frame.Birth.Birthrate * op.Frame.SimStep;
        MakeOwedBirths(op);
        op.StepParticles();
        op.AgeParticles();
    }
}

// One frame step of the simulation, written to the recording while one runs.
void AdvanceSimulation(ParticleOperator& op, double time) {
    op.Pool.BirthAccumulator += op.Frame.Birth.Birthrate * op.Frame.SimStep;
    if (op.Shapes.RefreshForSimulation(op.ShapeSource, op.ShapeSourceScale())) {
        // Particles born from a scaled first shape get the full-size one.
        for (int32_t n = 0; n < op.Pool.LiveCount; ++n) {
            Particle& p = op.LiveParticle(n);
            if (p.ShapeImage) p.ShapeImage->Recycle();
            p.ShapeImage = ShapeLibrary::CopyOf(op.Shapes.Copy());
        }
    }
    RunPendingPreRoll(op);
    MakeOwedBirths(op);
    const int32_t retired = op.AgeParticles();
    op.StepParticles();
    if (op.Recording)
        op.Recorder.Record(RecordedFrame{time, op.Frame.Range.RecordStartFrame, op.Frame.Range.RecordLastFrame, op.Frame.Lifetime, retired,
                                         LiveRing{op.Pool.Particles, PoolSize, op.Pool.OldestIndex, op.Pool.LiveCount}});
}

}  // namespace

void ParticleOperator::BirthParticle() {
    const BirthSwitches on{UseBirthSpline.load(std::memory_order_relaxed) != 0,
                           ScaleEnabled.load(std::memory_order_relaxed) != 0};
    Pool.Birth(Frame, on, Shapes.Copy(), Random);
}

void ParticleOperator::ClearParticles() {
    // Particles of loaded motion data own no image copy, so nothing is given back
    // while a system is loaded.
    Pool.Clear(SystemLoaded.load() == 0);
}

int32_t ParticleOperator::AgeParticles() { return Pool.Age(Frame.SimStep, Frame.Lifetime); }

void ParticleOperator::StepParticles() {
    StepSwitches on;
    for (int k = 0; k < 2; ++k) {
        on.Attractor[k] = AttractorEnabled[k].load() != 0;
        on.BounceLine[k] = BounceLineEnabled[k].load() != 0;
    }
    on.Banking = BankingEnabled.load() != 0;
    on.PathBinding = PathBindingEnabled.load() != 0;
    on.Strict = StrictModeEnabled.load() != 0;
    // Motion blur draws each particle between its state before the step and
    // after it.
    if (Frame.Motion.Blur != 0)
        Pool.KeepBefore(Frame.SimStep);
    else
        Pool.Before.clear();
    Pool.Step(StepSettings::Take(Frame, on, FlowSeed), Random, Passes);
}

void ParticleOperator::Process(Request* req) {
    // Interface-side actions that free shapes or close files wait for the frame.
    std::lock_guard<std::mutex> gate(RenderGate);
    // Whatever way the call ends, the per-call links and the proxy copy go, and
    // an output image that was not handed over is given back.
    struct CallEnd {
        ParticleOperator& Op;
        ~CallEnd() {
            if (Op.OutputImage) Op.OutputImage->Recycle();
            Op.OutputImage = nullptr;
            Op.Shapes.ReleaseProxyCopy();
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
    Shapes.CaptureFrame(ShapeSource, time);

    if (SystemLoaded) {
        Shapes.RefreshForPlayback(ShapeSource, ShapeSourceScale());
        ReadMotionFrame(time);
    } else {
        AdvanceSimulation(*this, time);
    }

    // A simulate-only request gets the plain background: the host discards it.
    if (!SkipCompositing && !(req->Flags() & Request::FlagSimulateOnly)) CompositeParticles(req);

    req->SetOutputData(OutImage, OutputImage);  // the request takes the image
    OutputImage = nullptr;
}
