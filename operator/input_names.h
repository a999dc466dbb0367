#pragma once
#include <string>

class ParticleOperator;

// The names of a tool's inputs as a text table, one line per input bound to a
// handle and for the output: "<input ID as 8 hex digits> <name>", e.g.
// "74736552 InResetPosition", where the name is the flow key with "In" before it.
// For a tool made from the control table it equals controls::NameResourceText().
std::string InputNameTable(const ParticleOperator& op);
