#include "app/farm.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/errors.h"
#include "app/flow_loader.h"
#include "app/frame_list.h"
#include "app/frame_pattern.h"
#include "app/image_io.h"
#include "app/session.h"

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
// output and error, merged.
int RunProgram(const std::vector<std::string>& argv, std::string& output) {
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
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        output.append(buf, size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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
    if (a.Engine != "slurm") throw UserError("unknown farm \"" + a.Engine + "\" (lumets submits to: slurm)");
    if (a.ChunkSize < 1) throw UserError("--chunk-size must be 1 or more");
    for (const std::string& s : a.Sets)
        if (s.find('=') == std::string::npos || s.front() == '=') throw UserError("bad --set \"" + s + "\" (use NAME=VALUE)");
    FlowFile flow = LoadFlowFile(a.Flow);
    const FrameList shot = a.Frames.empty() ? FrameList::Range(flow.First, flow.Last) : FrameList::Parse(a.Frames);
    if (shot.First() < flow.First || shot.Last() > flow.Last)
        throw UserError("frames " + a.Frames + " lie outside the flow's frames " + std::to_string(flow.First) + "-" +
                        std::to_string(flow.Last));
    const std::string outputText = a.Output.empty() ? flow.Output : a.Output;
    if (outputText.empty()) throw UserError("no output: give -o PATTERN or an \"output\" in the flow");
    const FramePattern pattern(Absolute(outputText));
    if (!pattern.HasField() && shot.Size() > 1)
        throw UserError("output \"" + outputText + "\" has no frame-number field (#### or %04d) for " +
                        std::to_string(shot.Size()) + " frames");
    CheckOutputFormat(pattern.At(shot.First()));
    if (a.RecordFirst && shot.Last() == shot.First())
        throw UserError("--record-first needs a shot of two frames or more (playback spans a range)");

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

    const std::string flowPath = Absolute(a.Flow);
    const std::string stem = fs::path(a.Flow).stem().string();
    const fs::path farmDir =
        a.FarmDir.empty() ? fs::path(pattern.At(shot.First())).parent_path() / "farm" : fs::path(Absolute(a.FarmDir));
    const std::string motion = a.Motion.empty() ? (farmDir / (stem + ".lpd")).string() : Absolute(a.Motion);
    const std::string workDir = fs::current_path().string();
    const std::string lumets = fs::read_symlink("/proc/self/exe").string();
    const std::vector<FrameList> chunks = shot.Chunks(a.ChunkSize);
    const std::string span = std::to_string(shot.First()) + "-" + std::to_string(shot.Last());

    // The chunk job: one array task per chunk.
    const std::string chunkScript = (farmDir / (stem + ".chunks.sbatch")).string();
    std::ostringstream c;
    c << "#!/bin/bash\n"
      << "#SBATCH --job-name=" << ShellQuote("lumets-" + stem) << "\n"
      << "#SBATCH --array=0-" << chunks.size() - 1 << "\n"
      << "#SBATCH --ntasks=1\n"
      << "#SBATCH --output=" << ShellQuote((farmDir / (stem + ".chunk.%A_%a.log")).string()) << "\n"
      << "# lumets: " << flowName << ", frames " << shot.Text() << ", in " << chunks.size() << " chunk"
      << (chunks.size() == 1 ? "" : "s") << " of up to " << a.ChunkSize << " frames; task i renders chunk i.\n";
    if (a.RecordFirst)
        c << "# Each chunk plays back the recording " << motion << " (frames " << span << ").\n";
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
          << "#SBATCH --output=" << ShellQuote((farmDir / (stem + ".record.%j.log")).string()) << "\n"
          << "# lumets: records " << flowName << ", frames " << span << ", for the chunks to play back.\n"
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

    std::error_code ec;
    fs::create_directories(farmDir, ec);
    if (ec) throw UserError("cannot create folder " + farmDir.string() + ": " + ec.message());
    WriteFileAtomically(chunkScript, c.str());
    std::vector<std::string> chunkOptions = a.SchedulerOptions;
    if (a.RecordFirst) {
        WriteFileAtomically(recordScript, r.str());
        const std::string recordJob = Sbatch(a.SchedulerOptions, recordScript);
        std::printf("record job %s: frames %s to %s\n", recordJob.c_str(), span.c_str(), motion.c_str());
        chunkOptions.insert(chunkOptions.begin(), "--dependency=afterok:" + recordJob);
    }
    const std::string chunkJob = Sbatch(chunkOptions, chunkScript);
    std::printf("chunk job %s: %zu task%s (script %s)\n", chunkJob.c_str(), chunks.size(),
                chunks.size() == 1 ? "" : "s", chunkScript.c_str());
    for (size_t i = 0; i < chunks.size(); ++i)
        std::printf("  task %zu: frames %s\n", i, chunks[i].Text().c_str());
    return 0;
}

}  // namespace lumets
