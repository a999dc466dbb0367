#pragma once
#include <span>

#include "operator/particle_operator.h"

// The operator's input handles, one for each input of the control table that
// holds a value, in table order. The handles keep their names for the code that
// reads them; the flow keys come from the table, not from these names.
std::span<Input* ParticleOperator::* const> ControlHandles();
