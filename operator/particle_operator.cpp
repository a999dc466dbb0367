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
    Random.Seed(uint32_t(tags ? tags->GetLong(Tags::RandomSeed, 1) : 1));
    ResetRequested = 0;
    CreateControls();
    PreloadedPresent = 0;
    PreloadedShapes.Clear();
    if (archive) ReadSavedBlock(archive);
    Pool.LiveCount = Pool.OldestIndex = Pool.NextIndex = 0;
    FrameEntrySize = 20;
    ParticleEntrySize = 40;
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
    if (ShapeCopy) {
        ShapeCopy->Recycle();
        ShapeCopy = nullptr;
    }
    if (ProxyShapeCopy) {
        ProxyShapeCopy->Recycle();
        ProxyShapeCopy = nullptr;
    }
    PreloadedShapes.Clear();
    WorkingShapes.Clear();
    FlushRecordWrites();
    platform::CloseAndForget(RecordFile);
    platform::CloseAndForget(PlaybackFile);
}

void ParticleOperator::OnAddToFlow() {
    ThreadedOperator::OnAddToFlow();
    Recording = 0;
    SystemLoaded = 0;
    CloseFilesOnReset = 0;
    SkipCompositing = 0;
    RefreshShapeCopies = 0;
    FirstShapeCopy = 0;
    ReleaseProxyShape = 0;
    PreloadCapturing = 0;
    WorkingPresent = 0;
    WorkingShapes.Clear();
    WorkingDivisor = 1;

    // A loaded motion-data system survives saving and reopening the flow through
    // the file name kept in the text input.
    std::string name;
    if (Parameter* p = InSystemFile ? InSystemFile->GetValue(1.0) : nullptr) {
        if (p->DataType == DT_Text) name = static_cast<Text*>(p)->Value;
        p->Recycle();
    }
    if (!name.empty()) LoadMotionFile(name.c_str());

    // A copy left from an earlier stay in a flow is given back, not dropped.
    if (ShapeCopy) ShapeCopy->Recycle();
    ShapeCopy = nullptr;
}

void ParticleOperator::SetDisabled(Input* in, int32_t v) { in->SetAttrs({{Tags::Disabled, v}}); }
void ParticleOperator::SetVisible(Input* in, int32_t v) { in->SetAttrs({{Tags::Visible, v}}); }
void ParticleOperator::SetViewVisible(Input* in, int32_t v) { in->SetAttrs({{Tags::ViewVisible, v}}); }

Operator* CreateParticleOperator(Registry* registry, CArchive* archive, TagList* tags) {
    return new (std::nothrow) ParticleOperator(registry, archive, tags);
}
