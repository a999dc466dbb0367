#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace lumets {

// How progress is shown: `Tty` one line on standard error that updates in place,
// `Plain` one line per frame on standard error, `OpenJd` lines that farm software
// parses on standard output ("openjd_progress: 42.0" and "openjd_status: ...").
enum class ProgressForm { Auto, Tty, Plain, OpenJd };
// Sets the form for the whole process (Auto: Tty on a terminal, Plain otherwise).
void SetProgressForm(ProgressForm form);
// Parses "tty", "plain" or "openjd"; throws UserError for anything else.
ProgressForm ParseProgressForm(const std::string& text);
// A one-off status line in the chosen form (nothing when quiet).
void ProgressNote(const std::string& text, bool quiet);

// Render progress: frame, frames per second and time left, in the process's form.
class Progress {
public:
    Progress(int64_t total, bool quiet, std::string verb = "frame");
    // A frame of the total has been done.
    void Step(int64_t frame);
    // Ends the updating line.
    void Finish();

private:
    int64_t Total, Done = 0;
    bool Quiet;
    ProgressForm Form;
    std::string Verb;
    std::chrono::steady_clock::time_point Start;
    bool LineOpen = false;
};

// Ctrl-C handling: the first SIGINT (or SIGTERM, as a farm sends when it cancels
// a task) asks the render to stop after its current frame, a second one ends the
// process at once.
void InstallStopHandler();
bool StopRequested();
void ClearStopRequest();
// For tests: as if Ctrl-C had been pressed.
void RequestStop();
// The signal that asked for the stop (0 when none).
int StopSignal();

}  // namespace lumets
