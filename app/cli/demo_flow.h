#pragma once

namespace lumets {

// The built-in flow of `lumets demo`: a fountain of soft dots under gravity that
// bounce off a line, grow, fade and change colour as they age. Needs no files.
extern const char* const DemoFlowJson;

}  // namespace lumets
