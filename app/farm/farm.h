#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace lumets {

// `lumets submit`: a shot rendered on a farm as a job array of chunks.
struct SubmitArgs {
    std::string Engine;                       // "slurm"
    std::string Flow;
    std::string Output;                       // -o PATTERN (default: the flow's "output")
    std::string Frames;                       // the shot (default: the flow's frames)
    size_t ChunkSize = 10;
    bool RecordFirst = false;                 // record once, then play the recording back in chunks
    std::string Motion;                       // the recording (default: in the farm folder)
    std::string FarmDir;                      // scripts and logs (default: "farm" beside the output)
    bool DryRun = false;
    // Passed on to every chunk.
    bool Quick = false;
    int Proxy = 1;
    int Threads = 0;
    int64_t Seed = -1;
    std::vector<std::string> Sets;
    std::vector<std::string> SchedulerOptions;  // after "--": given to sbatch as they are
};

// Writes the batch scripts, submits them (or prints them with --dry-run) and
// prints the job ids. Throws UserError for bad input or a refused submission.
int CommandSubmit(const SubmitArgs& args);

// Quotes a word for a POSIX shell.
std::string ShellQuote(const std::string& word);

}  // namespace lumets
