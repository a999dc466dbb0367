#include "operator/particle_operator.h"

void ParticleOperator::CompositeParticles(Request*) {}
void ParticleOperator::ProcessChunk(Request*, long) {}
