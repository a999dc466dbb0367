// The operator's side of compositing: the frame snapshot and the live particles
// handed to its compositor, and the chunks the host runs.
#include <mutex>

#include "operator/particle_operator.h"
#include "render/reference_render.h"

LiveParticles ParticleOperator::LiveParticlesView() const { return LiveParticles(Particles, OldestIndex, LiveCount); }

void ParticleOperator::CompositeParticles(Request*) {
    Compositing.Composite(LookAtFrame(*this), LiveParticlesView(), Passes);
}

void ParticleOperator::ProcessChunk(Request*, long chunk) {
    if (Passes.RunChunk(chunk)) return;
    // Outside a pass a chunk is the chunk-th oldest live particle, drawn by
    // itself; the blend of a pixel must not interleave with another chunk's,
    // so such chunks draw one at a time.
    if (chunk < 0 || chunk >= LiveCount || chunk >= PoolSize) return;
    static std::mutex drawing;
    std::lock_guard<std::mutex> hold(drawing);
    DrawParticleAlone(LookAtFrame(*this), LiveParticle(int32_t(chunk)));
}
