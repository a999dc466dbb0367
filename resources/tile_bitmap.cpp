#include "resources/tile_bitmap.h"

const std::vector<uint8_t>& TileBitmap() {
    static const std::vector<uint8_t> bytes;
    return bytes;
}
