#pragma once
// The commands of the lumets command line, each taking the parsed options.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/session/flow_loader.h"
#include "host/image.h"

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

// record and play on a flow already loaded (and perhaps changed) by a host
// program: the same checks and messages as the commands. stopWhen, asked before
// each frame, stops the work there (Interrupted is thrown).
int RecordFlow(FlowFile flow, const RenderArgs& a, const std::function<bool()>& stopWhen);
// play's frames go to Write when it is set (instead of files; the output options
// are not used), else to the output pattern as the command writes them.
struct FrameSink {
    std::function<void(int64_t frame, Image* picture)> Write;
    std::function<bool()> StopWhen;
};
int PlayFlow(FlowFile flow, const RenderArgs& a, const FrameSink& sink);
// render's frames (--frames, warm-up, threads, quick) handed to the sink.
int RenderFlow(FlowFile flow, const RenderArgs& a, const FrameSink& sink);

int CommandInspect(const RenderArgs& a);
int CommandControls(const RenderArgs& a);

// Parses the command line and runs the command it names; returns the exit status.
int RunCommandLine(int argc, char** argv);

std::string VersionText();

}  // namespace lumets
