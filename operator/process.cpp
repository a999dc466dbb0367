// The frame driver: one call makes one frame. It refreshes the frame settings,
// carries out the requests that control changes left, keeps the shapes current,
// advances the simulation by one step (or rebuilds the frame from loaded motion
// data), composites the particles and hands the picture to the host.
#include <algorithm>

#include "operator/particle_operator.h"
#include "simulation/step_settings.h"

namespace {

// The operator's worker dispatch as the simulation's pass runner, for the
// request under way.
struct RequestPassRunner final : PassRunner {
    ParticleOperator& Op;
    explicit RequestPassRunner(ParticleOperator& op) : Op(op) {}
    void RunPass(WorkerPass& pass, long chunks) override { Op.RunPass(pass, Op.CurrentRequest, chunks); }
};

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
// before the ageing. The iterations are not frames of a recording: PreRolling
// keeps them out of the file.
void RunPendingPreRoll(ParticleOperator& op) {
    if (!op.FastForwardRequested.exchange(0)) return;
    const double roll = op.Frame.RollFrames * op.Frame.SimStep;
    op.PreRolling = 1;
    for (int64_t i = 0; double(i) < roll; ++i) {
        op.Pool.BirthAccumulator += op.Frame.Birthrate * op.Frame.SimStep;
        MakeOwedBirths(op);
        op.StepParticles();
        op.AgeParticles();
    }
    op.PreRolling = 0;
}

// One frame step of the simulation, written to the recording while one runs.
void AdvanceSimulation(ParticleOperator& op, double time) {
    if (op.Recording) op.BeginRecordedFrame(time);
    op.Pool.BirthAccumulator += op.Frame.Birthrate * op.Frame.SimStep;
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

void ParticleOperator::BirthParticle() {
    const BirthSwitches on{UseBirthSpline.load(std::memory_order_relaxed) != 0,
                           ScaleEnabled.load(std::memory_order_relaxed) != 0};
    Pool.Birth(Frame, on, ShapeCopy, Random);
}

void ParticleOperator::ClearParticles() {
    // Particles of loaded motion data own no image copy, so nothing is given back
    // while a system is loaded.
    Pool.Clear(SystemLoaded.load() == 0);
}

void ParticleOperator::AgeParticles() {
    int32_t retired = Pool.Age(Frame.SimStep, Frame.Lifetime);
    if (RecordActive()) RecordWrite(&retired, 4);
}

void ParticleOperator::StepParticles() {
    StepSwitches on;
    for (int k = 0; k < 2; ++k) {
        on.Attractor[k] = AttractorEnabled[k].load() != 0;
        on.BounceLine[k] = BounceLineEnabled[k].load() != 0;
    }
    on.Banking = BankingEnabled.load() != 0;
    on.PathBinding = PathBindingEnabled.load() != 0;
    on.Strict = StrictModeEnabled.load() != 0;
    const StepSettings s = StepSettings::Take(Frame, on);
    const bool recording = RecordActive();
    RequestPassRunner runner(*this);
    Pool.Step(s, Random, runner);
    if (!recording) return;
    // Each live particle's record, in pool order; the frame's records go to the
    // file in one write.
    const int32_t live = std::clamp(Pool.LiveCount, 0, int32_t(PoolSize));
    for (int32_t i = 0; i < live && RecordActive(); ++i) {
        const Particle& p = Pool.Live(i);
        double rec[5] = {p.Position.x, p.Position.y, p.Angle, p.Age, p.Size};
        RecordWrite(rec, 40);
    }
    FlushRecordWrites();
}

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
