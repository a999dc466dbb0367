#include "app/progress.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace lumets {

namespace {
std::atomic<int> StopFlag{0};

void OnInterrupt(int) {
    if (StopFlag.exchange(1) != 0) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
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
}
bool StopRequested() { return StopFlag.load() != 0; }
void ClearStopRequest() { StopFlag.store(0); }
void RequestStop() { StopFlag.store(1); }

Progress::Progress(int64_t total, bool quiet, std::string verb)
    : Total(total), Quiet(quiet), Terminal(::isatty(2) != 0), Verb(std::move(verb)),
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
    if (Terminal) {
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
