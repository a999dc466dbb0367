#pragma once
#include <string>

class ParticleOperator;

// The tool's input names as a text table, one line per stored input and for the
// output: "<input ID as 8 hex digits> <member name>", e.g. "74736552 InResetPosition".
// Hosts use it to name the controls (a flow names a control by its member name
// without "In").
std::string InputNameTable(const ParticleOperator& op);
