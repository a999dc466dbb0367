#include "host/registry.h"
#include "operator/particle_operator.h"

extern "C" Resource LumetsGetResource(int32_t) { return {}; }
