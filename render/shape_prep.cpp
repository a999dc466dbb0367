#include "operator/particle_operator.h"

void ParticleOperator::CapturePreloadShape(Request*) {}
void ParticleOperator::RefreshShapesForPlayback() {}
void ParticleOperator::RefreshShapesForSimulation() {}
void ParticleOperator::RebuildWorkingShapes(int32_t) {}
void ParticleOperator::DiscardWorkingShapes() {}
void ParticleOperator::ReleaseProxyShapeCopy() {}
