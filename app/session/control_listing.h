#pragma once
#include <string>

namespace lumets {

// `lumets controls` listings of the loaded particle plug-in's controls: text for
// people, JSON for tools (and for the preview page).
std::string ControlsText();
std::string ControlsJson();

}  // namespace lumets
