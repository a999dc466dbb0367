#include "operator/particle_operator.h"

void ParticleOperator::NotifyChanged(Input* in, Parameter* value, double time) {
    Operator::NotifyChanged(in, value, time);
}
