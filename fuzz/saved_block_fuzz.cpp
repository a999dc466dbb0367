// Fuzz target: a tool's saved data as the host hands it back when a flow is
// opened. The input is what Save wrote (class ID, the host's block, the
// operator's shape block); the host checks the class ID, the constructor reads
// the rest. A damaged block must fail with CArchiveException and nothing else.
// A block that reads must save again to bytes that read back to the same bytes
// (the writer and the reader agree), and the restored shapes must render.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/archive.h"
#include "host/flow.h"
#include "host/image.h"
#include "host/registry.h"
#include "host/tags.h"
#include "memory_platform.h"
#include "operator/particle_operator.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "saved_block_fuzz: %s\n", what);
        std::abort();
    }
}

Registry& TheRegistry() {
    static Registry* reg = new Registry(&ClassRegistry, "SavedBlockFuzz", {});
    return *reg;
}

// Restores a tool the way the host does: class ID first, then the factory.
// Null when the data is refused.
ParticleOperator* Restore(const std::vector<uint8_t>& bytes) {
    CArchive archive(bytes);
    TagList tags{{Tags::RandomSeed, 1}};
    try {
        uint32_t id = 0;
        archive >> id;
        if (id != ClassId) return nullptr;
        return static_cast<ParticleOperator*>(CreateParticleOperator(&TheRegistry(), &archive, &tags));
    } catch (const CArchiveException&) {
        return nullptr;
    }
}

std::vector<uint8_t> SaveOf(ParticleOperator* op) {
    CArchive out;
    op->Save(&out, nullptr);
    return out.Buffer();
}

// Two frames of particles drawn with the restored shapes: born, then moved. The
// frame is small: the shapes are read and clipped the same way, and a larger
// one only repeats the drawing of more pixels (it took a third of the time).
void RenderWith(ParticleOperator* op) {
    Flow flow(0, 1);
    op->AddRef();
    flow.AddTool(op);
    Image* background = new Image(20, 15);
    Image* shape = new Image(3, 3);
    shape->Fill(HostPixel{65535, 65535, 65535, 65535});
    op->ControlInput("Image")->SetValue(background, 0, 1);
    op->ControlInput("ParticleImage")->SetValue(shape, 0, 1);
    Number* rate = new Number(4.0);
    op->ControlInput("Birthrate")->SetValue(rate, 0, 1);
    op->NotifyChanged(op->ControlInput("Birthrate"), rate, 0);
    rate->Recycle();
    flow.FrameDone = [](Operator*, double, Image* img) {
        if (img) img->Recycle();
    };
    flow.Render(0, 1);
    background->Recycle();
    shape->Recycle();
}

}  // namespace

namespace fuzzing {

// One input: restore, save again, restore that, and render with the result.
int RunSavedBlockInput(const uint8_t* data, size_t size) {
    static MemoryPlatform* files = new MemoryPlatform;
    MemoryPlatform::Use use(*files);
    files->Clear();
    const std::vector<uint8_t> input(data, data + size);
    ParticleOperator* op = Restore(input);
    if (!op) return 0;

    const std::vector<uint8_t> first = SaveOf(op);
    ParticleOperator* again = Restore(first);
    Check(again != nullptr, "a block the tool saved cannot be read back");
    Check(SaveOf(again) == first, "saving a restored tool changes its block");
    Check(again->Shapes.HasPreloaded() == op->Shapes.HasPreloaded(), "restored shapes differ");
    again->Recycle();

    RenderWith(op);
    op->Recycle();
    return 0;
}

}  // namespace fuzzing

#ifndef LUMETS_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        SetWorkerThreads(1);  // faults in reading are sought here, not in threading
        return true;
    }();
    (void)once;
    return fuzzing::RunSavedBlockInput(data, size);
}
#endif
