#pragma once
#include <string>

namespace lumets {

// The `lumets` command line: parses the arguments, runs the command and returns
// the exit status (0 success, 1 an error the user can act on, 2 a usage error,
// 130 stopped with Ctrl-C).
int RunCommandLine(int argc, char** argv);

// `lumets --version`: the version of lumets, and the registration name, long
// name, version and path of the particle plug-in it loads.
std::string VersionText();

}  // namespace lumets
