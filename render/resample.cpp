#include "render/resample.h"

#include <cstddef>

std::vector<uint16_t> ResampleShape(const uint16_t*, int32_t, int32_t, float, float, float, int32_t dw, int32_t dh,
                                    unsigned, float, float) {
    return std::vector<uint16_t>(std::size_t(dw > 0 ? dw : 0) * std::size_t(dh > 0 ? dh : 0) * 4, 0);
}

void TintShape(uint16_t*, int32_t, int32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
