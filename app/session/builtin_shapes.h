#pragma once
#include <string>
#include <vector>

#include "host/image.h"

namespace lumets {

// The particle shapes the host offers without an image file, drawn white on
// transparent into a size x size image (colour channels = coverage, so they add
// light where they are opaque).
//   dot   soft round spot, fading out from the centre
//   disc  hard-edged round disc (anti-aliased edge)
//   star  five-pointed star
//   ring  thin circle
std::vector<std::string> BuiltinShapeNames();
bool IsBuiltinShape(const std::string& name);
// A new image (one reference for the caller). Throws UserError for an unknown
// name or a size outside 1..4096.
Image* MakeBuiltinShape(const std::string& name, int size);

}  // namespace lumets
