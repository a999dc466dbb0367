#pragma once
// The commands of the lumets command line, each taking the parsed options.
#include <cstdint>
#include <string>
#include <vector>

namespace lumets {

// The options of the rendering commands as parsed from the command line.
struct RenderArgs {
    std::string Flow;
    std::string Output;
    std::string Frames;
    int Threads = 0;
    bool Quick = false;
    int Proxy = 1;
    int64_t Seed = -1;
    std::vector<std::string> Sets;
    bool NoWarmup = false;
    bool Quiet = false;
    // record / play / capture
    std::string Motion;
    bool Reverse = false;
    std::string Save;
    bool Json = false;
    bool Complete = false;  // play --complete
    std::string ProgressText;  // --progress tty|plain|openjd
    int Port = 0;  // preview
};

int CommandRender(const RenderArgs& a);
int CommandDemo(const RenderArgs& a);
int CommandRecord(const RenderArgs& a);
int CommandPlay(const RenderArgs& a);
int CommandCapture(const RenderArgs& a);
int CommandInspect(const RenderArgs& a);
int CommandControls(const RenderArgs& a);

// Parses the command line and runs the command it names; returns the exit status.
int RunCommandLine(int argc, char** argv);

std::string VersionText();

}  // namespace lumets
