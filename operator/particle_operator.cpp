#include "operator/particle_operator.h"

#include <new>

#include "host/parameters.h"
#include "host/platform.h"
#include "host/tags.h"

// The operator is built in a fixed order: the base class, then the members
// (vectors, the frame settings with both paths, the particle pool, all in declaration order), then the
// controls, then the saved shapes of a restored tool, then the ring counters.
ParticleOperator::ParticleOperator(Registry* registry, CArchive* archive, TagList* tags)
    : ThreadedOperator(registry, archive, tags) {
    // Every tool has its own generator; a flow may give it a starting state.
    FlowSeed = uint32_t(tags ? tags->GetLong(Tags::RandomSeed, 1) : 1);
    Random.Seed(FlowSeed);
    ResetRequested = 0;
    CreateControls();
    if (archive) ReadSavedBlock(archive);
    Pool.LiveCount = Pool.OldestIndex = Pool.NextIndex = 0;
    FastForwardRequested = 0;
}

ParticleOperator::~ParticleOperator() {
    // Particles hand back their own shape copies, last index first.
    for (int i = PoolSize - 1; i >= 0; --i) {
        if (Pool.Particles[i].ShapeImage) {
            Pool.Particles[i].ShapeImage->Recycle();
            Pool.Particles[i].ShapeImage = nullptr;
        }
    }
    // The shape library gives back its own copies.
    Recorder.Close();
    Player.Close();
}

void ParticleOperator::OnAddToFlow() {
    ThreadedOperator::OnAddToFlow();
    Recording = 0;
    SystemLoaded = 0;
    CloseFilesOnReset = 0;
    SkipCompositing = 0;
    Shapes.ResetForFlow();

    // A loaded motion-data system survives saving and reopening the flow through
    // the file name kept in the text input.
    std::string name;
    if (Parameter* p = InSystemFile ? InSystemFile->GetValue(1.0) : nullptr) {
        if (p->DataType == DT_Text) name = static_cast<Text*>(p)->Value;
        p->Recycle();
    }
    if (!name.empty()) LoadMotionFile(name.c_str());

    // A copy left from an earlier stay in a flow is given back, not dropped.
    Shapes.AdoptCopy(nullptr);
}

void ParticleOperator::SetDisabled(Input* in, int32_t v) { in->SetAttrs({{Tags::Disabled, v}}); }
void ParticleOperator::SetVisible(Input* in, int32_t v) { in->SetAttrs({{Tags::Visible, v}}); }
void ParticleOperator::SetViewVisible(Input* in, int32_t v) { in->SetAttrs({{Tags::ViewVisible, v}}); }

Operator* CreateParticleOperator(Registry* registry, CArchive* archive, TagList* tags) {
    return new (std::nothrow) ParticleOperator(registry, archive, tags);
}
