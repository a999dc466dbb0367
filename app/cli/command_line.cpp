// The command line: options, help, and the exit status each outcome gives.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/farm/farm.h"
#include "app/io/errors.h"
#include "app/preview/preview.h"
#include "app/session/progress.h"
#include "app/session/session.h"
#include "app/io/names.h"
#include "host/plugins.h"
#include "host/registry.h"

namespace lumets {

namespace {

std::string UnknownCommandText(const std::string& word, const std::vector<std::string>& commands) {
    const std::string shown = Shown(word);
    const auto distance = EditDistance;
    size_t best = SIZE_MAX;
    for (const std::string& c : commands) best = std::min(best, distance(word, c));
    std::string list;
    for (const std::string& c : commands)
        if (best <= 2 ? distance(word, c) == best : true) list += (list.empty() ? "" : ", ") + c;
    return "unknown command \"" + shown + "\" (" + (best <= 2 ? "nearest: " : "commands: ") + list + ")";
}

void AddRenderOptions(CLI::App* cmd, RenderArgs& a, bool withOutput) {
    if (withOutput)
        cmd->add_option("-o,--output", a.Output, "Output file pattern: #### or %04d is the frame number (default: the flow's \"output\")");
    cmd->add_option("--frames", a.Frames, "Frames to render: A-B, A-BxN (every Nth), single frames, lists such as 1-10x2,15,20-30 (default: the flow's frames)");
    cmd->add_option("--threads", a.Threads, "Worker threads (the output never depends on it)")->check(CLI::Range(1, 1024));
    cmd->add_flag("--quick", a.Quick, "Quick render (nearest-pixel sampling)");
    cmd->add_option("--proxy", a.Proxy, "Render at 1/N of full size")->check(CLI::Range(1, 64));
    cmd->add_flag("--no-warmup", a.NoWarmup,
                  "With --frames: start the simulation at the first frame asked for instead of running the flow's "
                  "earlier frames first (faster, but the frames differ from those of a full render; play never "
                  "runs earlier frames)");
    cmd->add_flag("-q,--quiet", a.Quiet, "No progress and no summary");
    cmd->add_option("--progress", a.ProgressText, "Progress form: tty, plain (a line per frame) or openjd (openjd_progress lines on standard output)");
}

}  // namespace

std::string VersionText() {
    Registry& reg = ParticleClass();
    const auto* longName = reinterpret_cast<const char*>(reg.RegTagList().GetPtr(RegTags::LongName, 0));
    const auto module = plugins::ModuleOfClass(reg.ClassId());
    std::string text = "lumets " LUMETS_VERSION "\nplug-in " + reg.ClassId() + " (" + (longName ? longName : "") +
                       ") version " + (module && !module->Version.empty() ? module->Version : "unknown");
    if (module) text += " from " + module->Path;
    return text + "\n";
}

int RunCommandLine(int argc, char** argv) {
    CLI::App app{"lumets: renders particle flows with the Lumet-s particle tool"};
    app.name("lumets");
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Help for every command");
    struct VersionRequested {};
    app.add_flag_callback("--version", [] { throw VersionRequested{}; },
                          "Show the version of lumets and of its particle plug-in");

    RenderArgs a;
    CLI::App* demo = app.add_subcommand("demo", "Render the built-in demo flow (no input files needed)");
    demo->add_option("-o,--output", a.Output, "Folder for the frames (default out/demo)");
    demo->add_option("--frames", a.Frames, "Frames A-B (default 0-47)");
    demo->add_option("--threads", a.Threads, "Worker threads")->check(CLI::Range(1, 1024));
    demo->add_flag("--no-warmup", a.NoWarmup, "With --frames: start the simulation at the first frame asked for");
    demo->add_flag("-q,--quiet", a.Quiet, "No progress and no summary");
    demo->add_option("--progress", a.ProgressText, "Progress form: tty, plain or openjd");

    CLI::App* render = app.add_subcommand("render", "Render a flow's frames to image files");
    render->add_option("FLOW", a.Flow, "Flow file (JSON)")->required();
    AddRenderOptions(render, a, true);
    render->add_option("--seed", a.Seed, "Initial state of the tool's random generator")->check(CLI::Range(int64_t(0), int64_t(4294967295LL)));
    render->add_option("--set", a.Sets, "Set a control: NAME=VALUE, VALUE as in a flow (a number, x,y point, text, or JSON such as {\"points\": [[0, 1], [1, 0]]} or {\"keys\": [[0, 1], [10, 2]]}); repeatable");

    CLI::App* record = app.add_subcommand("record", "Record the particle motion to a motion-data file");
    record->add_option("FLOW", a.Flow, "Flow file (JSON)")->required();
    record->add_option("--to", a.Motion, "Motion-data file to write (.lpd)")->required();
    record->add_option("--frames", a.Frames, "Recording range A-B (default: the flow's RecordStartFrame/RecordLastFrame, else its frames)");
    record->add_option("--threads", a.Threads, "Worker threads")->check(CLI::Range(1, 1024));
    record->add_option("--seed", a.Seed, "Initial state of the tool's random generator")->check(CLI::Range(int64_t(0), int64_t(4294967295LL)));
    record->add_option("--set", a.Sets, "Set a control: NAME=VALUE; repeatable");
    record->add_flag("-q,--quiet", a.Quiet, "No progress and no summary");
    record->add_option("--progress", a.ProgressText, "Progress form: tty, plain or openjd");

    CLI::App* play = app.add_subcommand("play", "Render a flow playing back a motion-data file");
    play->add_option("FLOW", a.Flow, "Flow file (JSON)")->required();
    play->add_option("--motion", a.Motion, "Motion-data file to play (.lpd)")->required();
    play->add_flag("--reverse", a.Reverse, "Play backwards");
    play->add_flag("--complete", a.Complete,
                   "Fail, instead of warning, when the recording ends before the frames asked for");
    AddRenderOptions(play, a, true);
    play->add_option("--set", a.Sets, "Set a control: NAME=VALUE; repeatable");

    CLI::App* capture = app.add_subcommand("capture", "Capture the particle shapes of frames A-B into a flow");
    capture->add_option("FLOW", a.Flow, "Flow file (JSON)")->required();
    capture->add_option("--frames", a.Frames, "Shape range A-B")->required();
    capture->add_option("--save", a.Save, "Flow file to write, holding the captured shapes")->required();
    capture->add_option("--proxy", a.Proxy, "Capture at 1/N of full size")->check(CLI::Range(1, 64));
    capture->add_flag("-q,--quiet", a.Quiet, "No progress and no summary");

    CLI::App* inspect = app.add_subcommand("inspect", "Print a motion-data file's frame table and records");
    inspect->add_option("FILE", a.Motion, "Motion-data file (.lpd)")->required();
    inspect->add_flag("--json", a.Json, "Machine-readable output");

    CLI::App* controls = app.add_subcommand("controls", "Print the tool's registration and its nine control pages");
    controls->add_flag("--json", a.Json, "Machine-readable output");

    SubmitArgs sub;
    CLI::App* submit = app.add_subcommand("submit", "Render a flow on a farm: chunks of frames as a job array");
    submit->add_option("FARM", sub.Engine, "The farm's scheduler: slurm")->required();
    submit->add_option("FLOW", sub.Flow, "Flow file (JSON)")->required();
    submit->add_option("-o,--output", sub.Output, "Output file pattern (default: the flow's \"output\")");
    submit->add_option("--frames", sub.Frames, "The shot: a frame list such as 0-99 or 1-10x2,15 (default: the flow's frames)");
    submit->add_option("--chunk-size", sub.ChunkSize, "Frames per task (default 10)")->check(CLI::Range(size_t(1), size_t(1000000)));
    submit->add_flag("--record-first", sub.RecordFirst, "Record the shot once, then render the chunks by playing the recording back");
    submit->add_option("--motion", sub.Motion, "With --record-first: the recording (default: FARM-DIR/FLOWNAME.lpd)");
    submit->add_option("--farm-dir", sub.FarmDir, "Folder for the batch scripts and logs (default: \"farm\" beside the output)");
    submit->add_flag("--dry-run", sub.DryRun, "Print the batch scripts instead of submitting them");
    submit->add_flag("--quick", sub.Quick, "Quick render (nearest-pixel sampling)");
    submit->add_option("--proxy", sub.Proxy, "Render at 1/N of full size")->check(CLI::Range(1, 64));
    submit->add_option("--threads", sub.Threads, "Worker threads per task")->check(CLI::Range(1, 1024));
    submit->add_option("--seed", sub.Seed, "Initial state of the tool's random generator")->check(CLI::Range(int64_t(0), int64_t(4294967295LL)));
    submit->add_option("--set", sub.Sets, "Set a control: NAME=VALUE; repeatable");
    submit->footer("Words after \"--\" are given to sbatch as they are (for example -- --partition=render).");
    // Words after "--" belong to the scheduler, not to us.
    if (argc > 1 && std::string(argv[1]) == "submit") {
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) != "--") continue;
            sub.SchedulerOptions.assign(argv + i + 1, argv + argc);
            argc = i;
            break;
        }
    }
    CLI::App* preview = app.add_subcommand("preview", "Scrub, tweak and save a flow in a local web page on 127.0.0.1");
    preview->add_option("FLOW", a.Flow, "Flow file (JSON)")->required();
    preview->add_option("--port", a.Port, "Port to listen on (default or 0: any free one, printed)")->check(CLI::Range(0, 65535));
    preview->add_option("--frames", a.Frames, "Frames A-B on the timeline (default: the flow's frames)");

    // A first word that names no command is most likely a typing slip: say which
    // command was meant instead of CLI11's "A subcommand is required".
    if (argc > 1 && argv[1][0] != '-') {
        std::vector<std::string> commands;
        for (const CLI::App* c : app.get_subcommands({})) commands.push_back(c->get_name());
        if (std::find(commands.begin(), commands.end(), argv[1]) == commands.end()) {
            std::fprintf(stderr, "lumets: %s (see lumets --help)\n", UnknownCommandText(argv[1], commands).c_str());
            return 2;
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const VersionRequested&) {
        try {
            std::cout << VersionText();
            return 0;
        } catch (const UserError& e) {
            std::fprintf(stderr, "lumets %s: %s\n", LUMETS_VERSION, e.what());
            return 1;
        }
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        for (char& c : what)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "lumets: %s (see lumets --help)\n", what.c_str());
        return 2;
    }

    // A bad --progress is a usage error like any other option's.
    try {
        if (!a.ProgressText.empty()) SetProgressForm(ParseProgressForm(a.ProgressText));
    } catch (const UserError& e) {
        std::fprintf(stderr, "lumets: %s (see lumets --help)\n", e.what());
        return 2;
    }

    InstallStopHandler();
    try {
        if (*demo) return CommandDemo(a);
        if (*render) return CommandRender(a);
        if (*record) return CommandRecord(a);
        if (*play) return CommandPlay(a);
        if (*capture) return CommandCapture(a);
        if (*inspect) return CommandInspect(a);
        if (*controls) return CommandControls(a);
        if (*submit) return CommandSubmit(sub);
        if (*preview) return RunPreview(a.Flow, a.Port, a.Frames);
    } catch (const UserError& e) {
        std::fprintf(stderr, "lumets: %s\n", Shown(e.what(), 4000).c_str());
        return 1;
    } catch (const Interrupted&) {
        if (StopSignal() == SIGTERM) {
            std::fprintf(stderr, "lumets: stopped (terminated)\n");
            return 143;
        }
        std::fprintf(stderr, "lumets: stopped by the user (Ctrl-C)\n");
        return 130;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "lumets: out of memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumets: %s\n", Shown(e.what(), 4000).c_str());
        return 1;
    }
    return 2;
}

}  // namespace lumets
