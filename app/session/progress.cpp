#include "app/session/progress.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "app/io/errors.h"

namespace lumets {

namespace {
std::atomic<int> StopFlag{0};
ProgressForm ChosenForm = ProgressForm::Auto;

ProgressForm EffectiveForm() {
    if (ChosenForm != ProgressForm::Auto) return ChosenForm;
    return ::isatty(2) != 0 ? ProgressForm::Tty : ProgressForm::Plain;
}

void OnInterrupt(int sig) {
    int expected = 0;
    if (!StopFlag.compare_exchange_strong(expected, sig)) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
}

std::string Duration(double seconds) {
    if (!(seconds >= 0) || seconds > 1e7) return "?";
    const long s = long(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}
}  // namespace

void InstallStopHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    // A farm cancels a task with SIGTERM: the frame in hand is finished the same way.
    sigaction(SIGTERM, &sa, nullptr);
}
bool StopRequested() { return StopFlag.load() != 0; }
void ClearStopRequest() { StopFlag.store(0); }
void RequestStop() { StopFlag.store(SIGINT); }
int StopSignal() { return StopFlag.load(); }

void SetProgressForm(ProgressForm form) { ChosenForm = form; }

ProgressForm ParseProgressForm(const std::string& text) {
    if (text == "tty") return ProgressForm::Tty;
    if (text == "plain") return ProgressForm::Plain;
    if (text == "openjd") return ProgressForm::OpenJd;
    throw UserError("bad --progress \"" + text + "\" (use tty, plain or openjd)");
}

void ProgressNote(const std::string& text, bool quiet) {
    if (quiet) return;
    if (EffectiveForm() == ProgressForm::OpenJd) {
        std::printf("openjd_status: %s\n", text.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

Progress::Progress(int64_t total, bool quiet, std::string verb)
    : Total(total), Quiet(quiet), Form(EffectiveForm()), Verb(std::move(verb)),
      Start(std::chrono::steady_clock::now()) {}

void Progress::Step(int64_t frame) {
    ++Done;
    if (Quiet) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    const double fps = elapsed > 0 ? double(Done) / elapsed : 0.0;
    const double left = fps > 0 ? double(Total - Done) / fps : -1.0;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s %lld (%lld/%lld)  %.2f fps  %s left", Verb.c_str(), (long long)frame,
                  (long long)Done, (long long)Total, fps, Duration(left).c_str());
    if (Form == ProgressForm::OpenJd) {
        std::printf("openjd_status: %s\nopenjd_progress: %.1f\n", buf,
                    Total > 0 ? 100.0 * double(Done) / double(Total) : 100.0);
        std::fflush(stdout);
        return;
    }
    if (Form == ProgressForm::Tty) {
        std::fprintf(stderr, "\r\033[K%s", buf);
        LineOpen = true;
    } else {
        std::fprintf(stderr, "%s\n", buf);
    }
    std::fflush(stderr);
}

void Progress::Finish() {
    if (LineOpen) std::fprintf(stderr, "\n");
    LineOpen = false;
}

}  // namespace lumets
