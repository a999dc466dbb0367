#include "app/farm/farm.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/io/errors.h"
#include "app/session/flow_loader.h"
#include "app/io/frame_list.h"
#include "app/io/frame_pattern.h"
#include "app/io/image_io.h"
#include "app/session/session.h"
#include "app/io/names.h"

extern char** environ;

namespace fs = std::filesystem;

namespace lumets {

std::string ShellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

namespace {

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) out += ' ';
        out += ShellQuote(w);
    }
    return out;
}

// Runs a program found on PATH and returns its exit status and its standard
// output and error, merged (at most 1 MB of it). With a time limit, a program
// still running when it runs out is killed and the status is -1.
int RunProgram(const std::vector<std::string>& argv, std::string& output, int limitSeconds = 0) {
    int fds[2];
    if (::pipe(fds) != 0) throw UserError(std::string("cannot run ") + argv[0] + ": " + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw UserError("cannot run " + argv[0] + ": " + std::strerror(rc) +
                        (rc == ENOENT ? " (is the farm's client installed and on PATH?)" : ""));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    bool timedOut = false;
    char buf[4096];
    for (;;) {
        if (limitSeconds > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fds[0], POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&p, 1, int(left.count())) : 0;
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) {
                timedOut = true;
                ::kill(pid, SIGKILL);
                break;
            }
        }
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (output.size() < (1u << 20)) output.append(buf, size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Submits a batch script; returns the job id sbatch printed.
std::string Sbatch(const std::vector<std::string>& options, const std::string& script) {
    std::vector<std::string> argv{"sbatch", "--parsable"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(script);
    std::string out;
    const int status = RunProgram(argv, out);
    // --parsable prints "ID" or "ID;CLUSTER" as its last line.
    std::string last;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) last = line;
    const std::string id = last.substr(0, last.find(';'));
    const bool numeric = !id.empty() && id.find_first_not_of("0123456789") == std::string::npos;
    if (status != 0 || !numeric) {
        std::string why = last.empty() ? "exit status " + std::to_string(status) : last;
        throw UserError("sbatch refused " + script + ": " + why);
    }
    return id;
}

std::string Absolute(const std::string& path) { return fs::absolute(path).lexically_normal().string(); }

// User text as it may stand on one line of a message or of a script comment:
// control characters and backslashes written as C escapes.
std::string Printable(const std::string& text) {
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7f)
            out.append("\\x").append(1, hex[c >> 4]).append(1, hex[c & 15]);
        else
            out += ch;
    }
    return out;
}

// Refuses text bound for a batch script that holds a control character. Quoting
// keeps any other byte a single word, but a line break ends the "#SBATCH" or
// comment line it stands in, and the scheduler runs the next line as a command.
void RequireScriptSafe(const std::string& what, const std::string& text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f)
            throw UserError(what + " \"" + Printable(text) +
                            "\" holds a control character, which a farm script cannot carry");
    }
}

// A path in an "#SBATCH --output" line: Slurm reads "%" as the start of a
// pattern (%A, %a, %j), so a literal one is written "%%".
std::string SlurmFileName(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c == '%') out += '%';
        out += c;
    }
    return out;
}

// Slurm's default MaxArraySize, assumed when the cluster cannot be asked.
constexpr size_t DefaultMaxArraySize = 1001;

// The number of tasks a job array may hold on this cluster (ids 0 to
// MaxArraySize - 1), from `scontrol show config`; 0 when arrays are disabled.
// Returns whether the cluster answered.
bool AskMaxArraySize(size_t& max) {
    std::string out;
    try {
        if (RunProgram({"scontrol", "show", "config"}, out, 10) != 0) return false;
    } catch (const UserError&) {
        return false;  // no scontrol on PATH
    }
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("MaxArraySize", 0) != 0) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        const size_t digits = line.find_first_not_of(' ', eq + 1);
        if (digits == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[digits]))) return false;
        const unsigned long long v = std::strtoull(line.c_str() + digits, nullptr, 10);
        max = size_t(std::min<unsigned long long>(v, 100000000ull));
        return true;
    }
    return false;
}

// Refuses a shot whose chunks outnumber the job array the cluster accepts,
// naming the smallest chunk size that fits. Slurm would refuse such a job, and
// the script alone would hold a line per chunk.
void RequireArrayFits(size_t frames, size_t chunkSize) {
    const size_t tasks = (frames + chunkSize - 1) / chunkSize;
    size_t max = DefaultMaxArraySize;
    const bool asked = AskMaxArraySize(max);
    if (max == 0) throw UserError("this cluster does not accept job arrays (MaxArraySize = 0)");
    if (tasks <= max) return;
    const size_t fits = (frames + max - 1) / max;
    throw UserError(std::to_string(frames) + " frames in chunks of " + std::to_string(chunkSize) + " make " +
                    std::to_string(tasks) + " array tasks, but " +
                    (asked ? "this cluster's job arrays hold at most " + std::to_string(max) + " (MaxArraySize)"
                           : "Slurm's job arrays hold at most " + std::to_string(max) +
                                 " unless configured otherwise (scontrol did not answer)") +
                    "; use --chunk-size " + std::to_string(fits) + " or more");
}

// The words of the chunk command that follow the frames.
std::vector<std::string> RenderOptions(const SubmitArgs& a, bool forPlay) {
    std::vector<std::string> w;
    if (a.Quick) w.push_back("--quick");
    if (a.Proxy > 1) w.insert(w.end(), {"--proxy", std::to_string(a.Proxy)});
    if (a.Threads > 0) w.insert(w.end(), {"--threads", std::to_string(a.Threads)});
    if (a.Seed >= 0 && !forPlay) w.insert(w.end(), {"--seed", std::to_string(a.Seed)});
    for (const std::string& s : a.Sets) w.insert(w.end(), {"--set", s});
    return w;
}

}  // namespace

int CommandSubmit(const SubmitArgs& a) {
    if (a.Engine != "slurm") throw UserError("unknown farm \"" + Shown(a.Engine) + "\" (lumets submits to: slurm)");
    if (a.ChunkSize < 1) throw UserError("--chunk-size must be 1 or more");
    // Everything given here ends up in a batch script or on sbatch's command line.
    RequireScriptSafe("flow file", a.Flow);
    RequireScriptSafe("-o", a.Output);
    RequireScriptSafe("--motion", a.Motion);
    RequireScriptSafe("--farm-dir", a.FarmDir);
    for (const std::string& s : a.Sets) RequireScriptSafe("--set", s);
    for (const std::string& s : a.SchedulerOptions) RequireScriptSafe("sbatch option", s);
    for (const std::string& s : a.Sets)
        if (s.find('=') == std::string::npos || s.front() == '=') throw UserError("bad --set \"" + s + "\" (use NAME=VALUE)");
    FlowFile flow = LoadFlowFile(a.Flow);
    const FrameList shot = a.Frames.empty() ? FrameList::Range(flow.First, flow.Last) : FrameList::Parse(a.Frames);
    if (shot.First() < flow.First || shot.Last() > flow.Last)
        throw UserError("frames " + a.Frames + " lie outside the flow's frames " + std::to_string(flow.First) + "-" +
                        std::to_string(flow.Last));
    const std::string outputText = a.Output.empty() ? flow.Output : a.Output;
    if (outputText.empty()) throw UserError("no output: give -o PATTERN or an \"output\" in the flow");
    RequireScriptSafe("output", outputText);
    const FramePattern pattern(Absolute(outputText));
    if (!pattern.HasField() && shot.Size() > 1)
        throw UserError("output \"" + outputText + "\" has no frame-number field (#### or %04d) for " +
                        std::to_string(shot.Size()) + " frames");
    CheckOutputFormat(pattern.At(shot.First()));
    if (a.RecordFirst && shot.Last() == shot.First())
        throw UserError("--record-first needs a shot of two frames or more (playback spans a range)");

    const std::string flowPath = Absolute(a.Flow);
    const std::string stem = fs::path(a.Flow).stem().string();
    const fs::path farmDir =
        a.FarmDir.empty() ? fs::path(pattern.At(shot.First())).parent_path() / "farm" : fs::path(Absolute(a.FarmDir));
    const std::string motion = a.Motion.empty() ? (farmDir / (stem + ".lpd")).string() : Absolute(a.Motion);
    const std::string workDir = fs::current_path().string();
    const std::string lumets = fs::read_symlink("/proc/self/exe").string();
    RequireScriptSafe("working folder", workDir);
    RequireScriptSafe("lumets executable", lumets);
    // Slurm drops a backslash from an "#SBATCH --output" path, and with one in the
    // name it would not expand %A_%a either: the logs would land elsewhere.
    const std::string logStem = (farmDir / stem).string();
    if (logStem.find('\\') != std::string::npos)
        throw UserError("log path \"" + logStem + "\" holds a backslash, which Slurm log names cannot carry (use --farm-dir)");
    RequireArrayFits(shot.Size(), a.ChunkSize);

    // The flow is loaded as a chunk will load it, so that a missing input file or an
    // unknown control is reported now rather than by every task.
    SessionOptions check;
    if (a.Seed >= 0) check.Seed = uint32_t(a.Seed);
    check.Proxy = a.Proxy;
    check.Quiet = true;
    for (const std::string& s : a.Sets) check.Sets.emplace_back(s.substr(0, s.find('=')), s.substr(s.find('=') + 1));
    const std::string flowName = flow.Name;
    {
        Session session(std::move(flow), check);
        session.CheckInputs(std::min(shot.First(), session.File().First), shot.Last());
    }

    const std::vector<FrameList> chunks = shot.Chunks(a.ChunkSize);
    const std::string span = std::to_string(shot.First()) + "-" + std::to_string(shot.Last());

    // The chunk job: one array task per chunk.
    const std::string chunkScript = (farmDir / (stem + ".chunks.sbatch")).string();
    std::ostringstream c;
    c << "#!/bin/bash\n"
      << "#SBATCH --job-name=" << ShellQuote("lumets-" + stem) << "\n"
      << "#SBATCH --array=0-" << chunks.size() - 1 << "\n"
      << "#SBATCH --ntasks=1\n"
      << "#SBATCH --output=" << ShellQuote(SlurmFileName(logStem) + ".chunk.%A_%a.log") << "\n"
      << "# lumets: " << Printable(flowName) << ", frames " << shot.Text() << ", in " << chunks.size() << " chunk"
      << (chunks.size() == 1 ? "" : "s") << " of up to " << a.ChunkSize << " frames; task i renders chunk i.\n";
    if (a.RecordFirst)
        c << "# Each chunk plays back the recording " << Printable(motion) << " (frames " << span << ").\n";
    else
        c << "# Each chunk simulates from the flow's first frame without drawing, then draws its frames.\n";
    c << "# Resubmit chunk i alone with: sbatch --array=i " << ShellQuote(chunkScript) << "\n"
      << "set -u\n"
      << "chunks=(\n";
    for (size_t i = 0; i < chunks.size(); ++i) c << "  " << ShellQuote(chunks[i].Text()) << "  # " << i << "\n";
    c << ")\n"
      << "task=${SLURM_ARRAY_TASK_ID:?run this script as a Slurm job array}\n"
      << "frames=${chunks[$task]:-}\n"
      << "[ -n \"$frames\" ] || { echo \"lumets: no chunk $task in this job\" >&2; exit 1; }\n"
      << "cd " << ShellQuote(workDir) << " || exit 1\n";
    std::vector<std::string> cmd{lumets};
    if (a.RecordFirst) {
        // A chunk whose frames the recording does not reach fails instead of rendering them live.
        cmd.insert(cmd.end(), {"play", flowPath, "--motion", motion, "--complete"});
    } else {
        cmd.insert(cmd.end(), {"render", flowPath});
    }
    cmd.insert(cmd.end(), {"-o", pattern.Text(), "--progress", "plain"});
    const auto options = RenderOptions(a, a.RecordFirst);
    cmd.insert(cmd.end(), options.begin(), options.end());
    if (a.RecordFirst)
        cmd.insert(cmd.end(), {"--set", "LoadStartFrame=" + std::to_string(shot.First()), "--set",
                               "LoadLastFrame=" + std::to_string(shot.Last())});
    c << "exec " << Join(cmd) << " --frames=\"$frames\"\n";

    // The recording job the chunks wait for.
    const std::string recordScript = (farmDir / (stem + ".record.sbatch")).string();
    std::ostringstream r;
    if (a.RecordFirst) {
        std::vector<std::string> rec{lumets, "record", flowPath, "--to", motion, "--frames=" + span, "--progress", "plain"};
        if (a.Threads > 0) rec.insert(rec.end(), {"--threads", std::to_string(a.Threads)});
        if (a.Seed >= 0) rec.insert(rec.end(), {"--seed", std::to_string(a.Seed)});
        for (const std::string& s : a.Sets) rec.insert(rec.end(), {"--set", s});
        r << "#!/bin/bash\n"
          << "#SBATCH --job-name=" << ShellQuote("lumets-" + stem + "-record") << "\n"
          << "#SBATCH --ntasks=1\n"
          << "#SBATCH --output=" << ShellQuote(SlurmFileName(logStem) + ".record.%j.log") << "\n"
          << "# lumets: records " << Printable(flowName) << ", frames " << span << ", for the chunks to play back.\n"
          << "cd " << ShellQuote(workDir) << " || exit 1\n"
          << "exec " << Join(rec) << "\n";
    }

    if (a.DryRun) {
        if (a.RecordFirst) {
            std::printf("# %s (sbatch --parsable %s%s%s)\n%s\n", recordScript.c_str(), Join(a.SchedulerOptions).c_str(),
                        a.SchedulerOptions.empty() ? "" : " ", ShellQuote(recordScript).c_str(), r.str().c_str());
        }
        std::printf("# %s (sbatch --parsable %s%s%s%s)\n%s", chunkScript.c_str(),
                    a.RecordFirst ? "--dependency=afterok:RECORD-JOB " : "", Join(a.SchedulerOptions).c_str(),
                    a.SchedulerOptions.empty() ? "" : " ", ShellQuote(chunkScript).c_str(), c.str().c_str());
        return 0;
    }

    // A refused submission leaves nothing behind: the scripts it wrote and the
    // folders it created go again.
    fs::path created;
    for (fs::path p = farmDir; !p.empty() && !fs::exists(p); p = p.parent_path()) created = p;
    std::vector<std::string> written;
    auto removeWritten = [&] {
        std::error_code ignored;
        for (const std::string& f : written) fs::remove(f, ignored);
        if (created.empty()) return;
        for (fs::path p = farmDir;; p = p.parent_path()) {
            if (!fs::remove(p, ignored) || p == created) break;
        }
    };
    std::error_code ec;
    fs::create_directories(farmDir, ec);
    if (ec) throw UserError("cannot create folder " + farmDir.string() + ": " + ec.message());
    std::string chunkJob;
    try {
        WriteFileAtomically(chunkScript, c.str());
        written.push_back(chunkScript);
        std::vector<std::string> chunkOptions = a.SchedulerOptions;
        if (a.RecordFirst) {
            WriteFileAtomically(recordScript, r.str());
            written.push_back(recordScript);
            const std::string recordJob = Sbatch(a.SchedulerOptions, recordScript);
            std::printf("record job %s: frames %s to %s\n", recordJob.c_str(), span.c_str(), motion.c_str());
            // The record job holds a copy of its script; the chunk script alone goes if refused.
            written.erase(written.begin() + 1);
            created.clear();
            chunkOptions.insert(chunkOptions.begin(), "--dependency=afterok:" + recordJob);
        }
        chunkJob = Sbatch(chunkOptions, chunkScript);
    } catch (const UserError&) {
        removeWritten();
        throw;
    }
    std::printf("chunk job %s: %zu task%s (script %s)\n", chunkJob.c_str(), chunks.size(),
                chunks.size() == 1 ? "" : "s", chunkScript.c_str());
    for (size_t i = 0; i < chunks.size(); ++i)
        std::printf("  task %zu: frames %s\n", i, chunks[i].Text().c_str());
    return 0;
}

}  // namespace lumets
