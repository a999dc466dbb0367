#pragma once
// The host's part of an operator's saved data: a marker, a byte length, then
// that many bytes. This host stores nothing in it yet (length 0); the length lets
// a later host add data that an older one skips.
#include <cstdint>

#include "host/fourcc.h"

namespace hostinternal {
constexpr uint32_t HostBlockMarker = FourCC("LHst");
}  // namespace hostinternal
