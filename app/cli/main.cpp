#include "app/cli/commands.h"

int main(int argc, char** argv) { return lumets::RunCommandLine(argc, argv); }
