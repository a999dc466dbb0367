#pragma once
// Host-internal link between the plug-in loader and the class registry: while a
// module is being loaded, the registries it constructs are noted so that the
// loader can hand them the module's resource lookup once the module is open.
#include "host/registry.h"

namespace hostinternal {

// Called by the Registry constructor and destructor.
void NoteRegistryCreated(Registry* reg);
void NoteRegistryDestroyed(Registry* reg);

}  // namespace hostinternal
