#include "operator/particle_operator.h"

uint32_t ParticleOperator::Save(CArchive* archive, TagList* tags) {
    *archive << ClassId;
    uint32_t result = Operator::Save(archive, tags);
    *archive << uint32_t(0);
    *archive << ShapeEndMarker;
    return result & 1;
}

void ParticleOperator::ReadSavedBlock(CArchive* archive) {
    uint32_t size = 0, marker = 0;
    *archive >> size;
    *archive >> marker;
}
