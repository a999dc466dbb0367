#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace lumets {

// Render progress on standard error: on a terminal one line that updates in
// place (frame, frames per second, time left); otherwise one plain line per frame.
class Progress {
public:
    Progress(int64_t total, bool quiet, std::string verb = "frame");
    // A frame of the total has been done.
    void Step(int64_t frame);
    // Ends the updating line.
    void Finish();

private:
    int64_t Total, Done = 0;
    bool Quiet, Terminal;
    std::string Verb;
    std::chrono::steady_clock::time_point Start;
    bool LineOpen = false;
};

// Ctrl-C handling: the first SIGINT asks the render to stop after its current
// frame, a second one ends the process at once.
void InstallStopHandler();
bool StopRequested();
void ClearStopRequest();
// For tests: as if Ctrl-C had been pressed.
void RequestStop();

}  // namespace lumets
