// Saving and restoring the simulation state between two frames, for hosts that
// scrub a timeline: the live particles (their shape images are shared, never
// changed after birth), the ring counters, the birth accumulator, the turbulence's time, the random
// generator, the shape copy, the two paths and the flags the frames read.
#include "operator/particle_operator.h"

namespace {

// The flags that carry from one frame to the next: requests left for the next
// frame, the switches' mirrors and the shape-copy bookkeeping.
constexpr Flag ParticleOperator::* CarriedFlags[] = {
    &ParticleOperator::ResetRequested,    &ParticleOperator::CloseFilesOnReset, &ParticleOperator::FastForwardRequested,
    &ParticleOperator::ScaleEnabled,      &ParticleOperator::FadeEnabled,       &ParticleOperator::GrowEnabled,
    &ParticleOperator::BlurEnabled,       &ParticleOperator::TintEnabled,       &ParticleOperator::BankingEnabled,
    &ParticleOperator::UseBirthSpline,    &ParticleOperator::StrictModeEnabled, &ParticleOperator::PathBindingEnabled,
    &ParticleOperator::ReversePlayback,   &ParticleOperator::SkipCompositing,
};
constexpr size_t CarriedCount = sizeof CarriedFlags / sizeof CarriedFlags[0];

struct ParticleState : SimulationState {
    ~ParticleState() override {
        for (Particle& p : Live)
            if (p.ShapeImage) p.ShapeImage->Recycle();
        if (Shape) Shape->Recycle();
    }
    size_t Bytes() const override { return sizeof(*this) + Live.capacity() * sizeof(Particle); }
    std::vector<Particle> Live;  // oldest first
    int32_t OldestIndex = 0, NextIndex = 0;
    double BirthAccumulator = 0.0, FlowTime = 0.0;
    uint32_t RandomState = 0;
    Image* Shape = nullptr;
    int32_t Flags[CarriedCount] = {};
    ShapeLibrary::CopyFlags ShapeFlags;
    int32_t AttractorEnabled[2] = {}, BounceEnabled[2] = {};
    SegmentPath MotionPath, BirthPath;
};

}  // namespace

bool ParticleOperator::StateIsPortable() const {
    return !SystemLoaded && !Recording && !Shapes.Capturing() && !Shapes.HasWorking() && !Recorder.IsOpen() &&
           !Player.IsOpen() && !ShapeSourceScale().ScaledInBothAxes();
}

std::unique_ptr<SimulationState> ParticleOperator::SaveState() {
    std::lock_guard<std::mutex> gate(RenderGate);
    if (!StateIsPortable()) return nullptr;
    auto s = std::make_unique<ParticleState>();
    s->Live.reserve(size_t(Pool.LiveCount));
    for (int32_t i = 0; i < Pool.LiveCount; ++i) {
        s->Live.push_back(LiveParticle(i));
        if (Image* img = s->Live.back().ShapeImage) img->AddRef();
    }
    s->OldestIndex = Pool.OldestIndex;
    s->NextIndex = Pool.NextIndex;
    s->BirthAccumulator = Pool.BirthAccumulator;
    s->FlowTime = Pool.FlowTime;
    s->RandomState = Random.GetState();
    if ((s->Shape = Shapes.Copy())) s->Shape->AddRef();
    for (size_t i = 0; i < CarriedCount; ++i) s->Flags[i] = (this->*CarriedFlags[i]).load();
    s->ShapeFlags = Shapes.GetCopyFlags();
    for (int i = 0; i < 2; ++i) {
        s->AttractorEnabled[i] = AttractorEnabled[i].load();
        s->BounceEnabled[i] = BounceLineEnabled[i].load();
    }
    s->MotionPath = Frame.MotionPath;
    s->BirthPath = Frame.Birth.BirthPath;
    return s;
}

bool ParticleOperator::RestoreState(const SimulationState& state) {
    const auto* s = dynamic_cast<const ParticleState*>(&state);
    std::lock_guard<std::mutex> gate(RenderGate);
    if (!s || !StateIsPortable()) return false;
    if (s->Live.size() >= size_t(PoolSize) || s->OldestIndex < 0 || s->OldestIndex >= PoolSize ||
        (s->OldestIndex + int32_t(s->Live.size())) % PoolSize != s->NextIndex)
        return false;
    ClearParticles();
    Pool.OldestIndex = s->OldestIndex;
    for (size_t i = 0; i < s->Live.size(); ++i) {
        Particle& p = Pool.Particles[(Pool.OldestIndex + int32_t(i)) % PoolSize];
        p = s->Live[i];
        if (p.ShapeImage) p.ShapeImage->AddRef();
    }
    Pool.LiveCount = int32_t(s->Live.size());
    Pool.NextIndex = s->NextIndex;
    Pool.BirthAccumulator = s->BirthAccumulator;
    Pool.FlowTime = s->FlowTime;
    Random.Seed(s->RandomState);
    if (s->Shape) s->Shape->AddRef();
    Shapes.AdoptCopy(s->Shape);
    for (size_t i = 0; i < CarriedCount; ++i) (this->*CarriedFlags[i]).store(s->Flags[i]);
    Shapes.SetCopyFlags(s->ShapeFlags);
    for (int i = 0; i < 2; ++i) {
        AttractorEnabled[i] = s->AttractorEnabled[i];
        BounceLineEnabled[i] = s->BounceEnabled[i];
    }
    Frame.MotionPath = s->MotionPath;
    Frame.Birth.BirthPath = s->BirthPath;
    return true;
}
