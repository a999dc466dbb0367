#include "operator/particle_operator.h"

void ParticleOperator::Process(Request*) {}
