// The lumets program run as a process: errors, partial renders, threads, the
// motion-data round trip and shape capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "app/io/base64.h"
#include "app/io/image_io.h"
#include "common/test_files.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int Status = -1;
    std::string Out, Err;
};

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string FrameName(int f) {
    char name[32];
    std::snprintf(name, sizeof name, "f.%04d.png", f);
    return name;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { setenv("LUMETS_PLUGIN_PATH", LUMETS_PLUGIN_BUILD_DIR, 0); }

    Result Run(const std::string& args) {
        const std::string cmd = "cd '" + Dir.string() + "' && '" + LUMETS_EXE + "' " + args + " >stdout.txt 2>stderr.txt";
        const int rc = std::system(cmd.c_str());
        Result r;
        r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.Out = ReadAll(Dir / "stdout.txt");
        r.Err = ReadAll(Dir / "stderr.txt");
        fs::remove(Dir / "stdout.txt");
        fs::remove(Dir / "stderr.txt");
        return r;
    }
    void Write(const std::string& name, const std::string& text) {
        fs::create_directories((Dir / name).parent_path());
        std::ofstream(Dir / name) << text;
    }
    std::vector<std::string> FilesIn(const std::string& sub) {
        std::vector<std::string> names;
        if (!fs::exists(Dir / sub)) return names;
        for (const auto& e : fs::directory_iterator(Dir / sub)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void WriteFlow(const std::string& name = "flow.json", int last = 30, const std::string& extra = "") {
        Write(name, R"({"flow": 1, "frames": [0, )" + std::to_string(last) + R"(], "seed": 3,
  "background": {"width": 96, "height": 64, "color": [0.0, 0.0, 0.1, 1.0]},
  "particle": {"shape": "disc", "size": 8},
  "controls": {"Birthrate": 3, "Lifetime": 25, "Start": [0.4, 0.7], "End": [0.6, 0.7], "Orientation": 90,
               "Speed": 0.03, "Gravity": 0.2, "Bounce1Enable": 1, "Bounce1Start": [0.1, 0.9],
               "Bounce1End": [0.9, 0.9], "Spread": {"keys": [[0, 0.1], [30, 0.6]]}, "EnableScale": 1,
               "SizeVariance": 0.5)" + extra + R"(},
  "output": "out/f.####.png"})");
    }
    void ExpectOneLineFailure(const Result& r, const std::string& contains) {
        EXPECT_NE(r.Status, 0);
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_NE(r.Err.find(contains), std::string::npos) << r.Err;
        EXPECT_TRUE(FilesIn("out").empty()) << "something was written";
    }

    testfiles::ScratchDir Scratch;
    const fs::path& Dir = Scratch.Path;
};

}  // namespace

TEST_F(CommandLine, UserErrorsAreOneLineAndWriteNothing) {
    WriteFlow();
    Write("bad.json", "{\"flow\": 1,\n \"frames\": [0, 3],\n \"controls\": {\"Birthrate\" 3}}");
    Write("nobg.json", R"({"flow": 1, "frames": [0, 3], "background": "plates/bg.####.png"})");
    Write("junk.lpd", "xy");
    // Hostile keys: control characters are shown as '?', and a megabyte key is
    // cut short (and compared by its first characters only).
    Write("escape.json", "{\"flow\": 1, \"frames\": [0, 3], \"controls\": {\"Birth\\nrate\\u001b[31m\": 3}}");
    Write("huge.json", "{\"flow\": 1, \"frames\": [0, 3], \"controls\": {\"" + std::string(2000000, 'B') + "\": 3}}");
    EXPECT_LT(Run("render huge.json -o out/a.####.png").Err.size(), 300u);
    const std::pair<const char*, const char*> cases[] = {
        {"render escape.json -o out/a.####.png", "unknown control \"Birth?rate?[31m\" (nearest: Birthrate"},
        {"render huge.json -o out/a.####.png", "BBBBBBBBBBBB..."},
        {"render nothere.json", "missing file nothere.json"},
        {"render bad.json -o out/a.#.png", "bad.json:3:27: malformed JSON"},
        {"render flow.json --set Birthrat=3", "nearest: Birthrate"},
        {"render flow.json --frames 9-2", "bad frame range"},
        {"render flow.json --frames 20-40", "outside the flow's frames"},
        {"render flow.json -o out/a.##.##.png", "more than one run"},
        {"render flow.json -o out/a.png", "no frame-number field"},
        {"render flow.json -o out/a.####.gif", "unsupported output format"},
        {"render flow.json --set Start=fast", "point"},
        {"render nobg.json -o out/a.####.png", "missing file plates/bg.0000.png"},
        {"inspect junk.lpd", "not a motion-data file"},
        {"play flow.json --motion junk.lpd", "not a motion-data file"},
    };
    for (const auto& [args, message] : cases) ExpectOneLineFailure(Run(args), message);
}

TEST_F(CommandLine, PartialRenderAndThreadCountDoNotChangeTheFrames) {
    WriteFlow();
    ASSERT_EQ(Run("render flow.json -q --threads 1 -o full/f.####.png").Status, 0);
    ASSERT_EQ(Run("render flow.json -q --frames 20-30 --threads 2 -o part/f.####.png").Status, 0);
    ASSERT_EQ(Run("render flow.json -q --frames 20-30 --no-warmup -o cold/f.####.png").Status, 0);
    const auto part = FilesIn("part");
    ASSERT_EQ(part.size(), 11u);
    EXPECT_EQ(part.front(), "f.0020.png");
    for (const std::string& name : part) EXPECT_EQ(ReadAll(Dir / "full" / name), ReadAll(Dir / "part" / name)) << name;
    // Without the warm-up the simulation starts empty at frame 20: a different picture.
    EXPECT_NE(ReadAll(Dir / "full" / "f.0020.png"), ReadAll(Dir / "cold" / "f.0020.png"));
    EXPECT_EQ(FilesIn("full").size(), 31u);

    ASSERT_EQ(Run("render flow.json -q --frames 3-11x4,14,29-30 -o list/f.####.png").Status, 0);
    EXPECT_EQ(FilesIn("list"), (std::vector<std::string>{"f.0003.png", "f.0007.png", "f.0011.png", "f.0014.png",
                                                         "f.0029.png", "f.0030.png"}));
    for (const std::string& name : FilesIn("list")) EXPECT_EQ(ReadAll(Dir / "full" / name), ReadAll(Dir / "list" / name)) << name;
}

TEST_F(CommandLine, ProgressFormsForTerminalsLogsAndFarms) {
    WriteFlow("flow.json", 6);
    const Result plain = Run("render flow.json --frames 2-3,5 --progress plain -o a/f.####.png");
    ASSERT_EQ(plain.Status, 0) << plain.Err;
    EXPECT_NE(plain.Err.find("simulating frames 0-1"), std::string::npos) << plain.Err;
    EXPECT_NE(plain.Err.find("\nframe 3 (2/3)"), std::string::npos) << plain.Err;
    EXPECT_EQ(plain.Err.find('\r'), std::string::npos);
    const Result tty = Run("render flow.json --frames 5 --progress tty -o b/f.####.png");
    EXPECT_NE(tty.Err.find("\r\033[Kframe 5 (1/1)"), std::string::npos) << tty.Err;
    const Result jd = Run("render flow.json --frames 0-3 --progress openjd -o c/f.####.png");
    ASSERT_EQ(jd.Status, 0) << jd.Err;
    EXPECT_EQ(jd.Err, "");
    EXPECT_NE(jd.Out.find("openjd_status: frame 1 (2/4)"), std::string::npos) << jd.Out;
    EXPECT_NE(jd.Out.find("\nopenjd_progress: 50.0\n"), std::string::npos) << jd.Out;
    EXPECT_NE(jd.Out.find("\nopenjd_progress: 100.0\n"), std::string::npos) << jd.Out;
    EXPECT_EQ(Run("render flow.json -q --progress fancy -o d/f.####.png").Status, 2);  // a usage error
    EXPECT_TRUE(FilesIn("d").empty());
}

TEST_F(CommandLine, SubmitDryRunShowsTheChunksAndRefusesBadShots) {
    WriteFlow("flow.json", 30);
    const Result r = Run("submit slurm flow.json --frames 0-9,20 --chunk-size 4 --dry-run --set Gravity=0.3 -- --partition=fx");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("#SBATCH --array=0-2\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("  '4-7'  # 1\n  '8-9,20'  # 2\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("'render' '" + (Dir / "flow.json").string() + "' '-o' '" + (Dir / "out/f.####.png").string()),
              std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("'--set' 'Gravity=0.3' --frames=\"$frames\""), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("'--partition=fx'"), std::string::npos);
    EXPECT_FALSE(fs::exists(Dir / "out"));  // a dry run writes nothing

    const Result rec = Run("submit slurm flow.json --frames 10-20 --chunk-size 6 --record-first --dry-run");
    ASSERT_EQ(rec.Status, 0) << rec.Err;
    EXPECT_NE(rec.Out.find("'record' '" + (Dir / "flow.json").string() + "' '--to' '" + (Dir / "out/farm/flow.lpd").string() +
                           "' '--frames=10-20'"), std::string::npos) << rec.Out;
    EXPECT_NE(rec.Out.find("--dependency=afterok:"), std::string::npos);
    EXPECT_NE(rec.Out.find("'--set' 'LoadStartFrame=10' '--set' 'LoadLastFrame=20'"), std::string::npos) << rec.Out;

    ExpectOneLineFailure(Run("submit slurm flow.json --frames 25-40"), "outside the flow's frames");
    ExpectOneLineFailure(Run("submit pbs flow.json"), "unknown farm \"pbs\"");
    ExpectOneLineFailure(Run("submit slurm flow.json --set Gravty=2 --dry-run"), "unknown control \"Gravty\"");
    ExpectOneLineFailure(Run("submit slurm flow.json --frames 4 --record-first"), "two frames or more");
    ExpectOneLineFailure(Run("submit slurm flow.json -o out/f.gif"), "frame-number field");

    // Submission through a stand-in sbatch that logs its arguments and answers with job ids.
    Write("bin/sbatch", "#!/bin/sh\necho \"$@\" >> sbatch.log\n"
                        "case \"$*\" in *bad*) echo 'sbatch: error: invalid partition' >&2; exit 1;; esac\n"
                        "wc -l < sbatch.log\n");
    fs::permissions(Dir / "bin/sbatch", fs::perms::owner_all);
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", ((Dir / "bin").string() + ":" + path).c_str(), 1);
    const Result sub = Run("submit slurm flow.json --frames 0-11 --chunk-size 6 --record-first -- --qos=x");
    const Result refused = Run("submit slurm flow.json --farm-dir jobs -- --partition=bad");
    setenv("PATH", "/nonexistent", 1);
    const Result missing = Run("submit slurm flow.json --farm-dir jobs2");
    setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(sub.Status, 0) << sub.Err;
    EXPECT_NE(sub.Out.find("record job 1: frames 0-11"), std::string::npos) << sub.Out;
    EXPECT_NE(sub.Out.find("chunk job 2: 2 tasks"), std::string::npos) << sub.Out;
    EXPECT_NE(sub.Out.find("  task 1: frames 6-11\n"), std::string::npos) << sub.Out;
    const std::string log = ReadAll(Dir / "sbatch.log");
    EXPECT_NE(log.find("--parsable --qos=x " + (Dir / "out/farm/flow.record.sbatch").string()), std::string::npos) << log;
    EXPECT_NE(log.find("--parsable --dependency=afterok:1 --qos=x " + (Dir / "out/farm/flow.chunks.sbatch").string()),
              std::string::npos) << log;
    EXPECT_TRUE(fs::exists(Dir / "out/farm/flow.chunks.sbatch"));
    EXPECT_NE(refused.Status, 0);
    EXPECT_EQ(refused.Err, "lumets: sbatch refused " + (Dir / "jobs/flow.chunks.sbatch").string() +
                               ": sbatch: error: invalid partition\n");
    EXPECT_NE(missing.Status, 0);
    EXPECT_NE(missing.Err.find("cannot run sbatch"), std::string::npos) << missing.Err;
}

TEST_F(CommandLine, SetOverridesTheFlowAndOutOfRangeValuesAreLimited) {
    WriteFlow();
    const Result r = Run("render flow.json -q --frames 0-0 --set Birthrate=5000 --set Nmbr=20 -o b/f.####.png");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");  // the later --set replaced the out-of-range one
    const Result limited = Run("render flow.json -q --frames 0-0 --set Birthrate=5000 -o c/f.####.png");
    ASSERT_EQ(limited.Status, 0);
    EXPECT_NE(limited.Err.find("warning: control \"Birthrate\""), std::string::npos) << limited.Err;
    EXPECT_NE(limited.Err.find("limited to 1000"), std::string::npos);
}

TEST_F(CommandLine, RecordInspectAndPlayRoundTrip) {
    WriteFlow("flow.json", 30, R"(, "LoadStartFrame": 0, "LoadLastFrame": 20)");
    const Result rec = Run("record flow.json --to motion/m.lpd --frames 0-20");
    ASSERT_EQ(rec.Status, 0) << rec.Err;
    EXPECT_NE(rec.Err.find("Confirm: Output File written!"), std::string::npos) << rec.Err;
    EXPECT_EQ(FilesIn("motion"), std::vector<std::string>{"m.lpd"});  // no temporary left behind

    const Result ins = Run("inspect motion/m.lpd --json");
    ASSERT_EQ(ins.Status, 0) << ins.Err;
    const auto j = nlohmann::json::parse(ins.Out);
    ASSERT_EQ(j["frameCount"], 21);

    // (Recording and playback pixels are pinned by golden_hashes.sh.)
    ASSERT_EQ(Run("play flow.json -q --motion motion/m.lpd --frames 0-20 -o fwd/f.####.png").Status, 0);
    ASSERT_EQ(Run("play flow.json -q --motion motion/m.lpd --frames 3-9x3,17 -o some/f.####.png").Status, 0);
    EXPECT_EQ(FilesIn("some"), (std::vector<std::string>{"f.0003.png", "f.0006.png", "f.0009.png", "f.0017.png"}));
    for (const std::string& name : FilesIn("some")) EXPECT_EQ(ReadAll(Dir / "fwd" / name), ReadAll(Dir / "some" / name)) << name;

    // A copy cut off at the start of frame 12's records plays like the whole file
    // up to the cut (frame t interpolates entries t-1 and t); frame 12 finds its
    // records missing, empties the system and ends the playback: the background
    // alone. One warning line says so.
    const int cut = 12;
    ASSERT_GT(j["entries"][cut]["live"].get<int>(), 0);
    fs::copy_file(Dir / "motion" / "m.lpd", Dir / "motion" / "cut.lpd");
    fs::resize_file(Dir / "motion" / "cut.lpd", j["entries"][cut]["offset"].get<uint32_t>());
    const Result cutPlay = Run("play flow.json -q --motion motion/cut.lpd --frames 0-20 -o cut/f.####.png");
    ASSERT_EQ(cutPlay.Status, 0) << cutPlay.Err;
    EXPECT_EQ(cutPlay.Err, "lumets: warning: motion/cut.lpd ends early: its last whole frame is recorded frame 11 of "
                           "21 (0-20); the playback runs past it from frame 12\n");
    ASSERT_EQ(FilesIn("cut").size(), 21u);
    for (int f = 0; f < cut; ++f) EXPECT_EQ(ReadAll(Dir / "cut" / FrameName(f)), ReadAll(Dir / "fwd" / FrameName(f))) << f;
    ASSERT_EQ(Run("render flow.json -q --frames 0-0 --set Birthrate=0 -o bg/f.####.png").Status, 0);
    EXPECT_EQ(ReadAll(Dir / "cut" / "f.0012.png"), ReadAll(Dir / "bg" / "f.0000.png"));
    EXPECT_NE(ReadAll(Dir / "cut" / "f.0011.png"), ReadAll(Dir / "bg" / "f.0000.png"));
}

TEST_F(CommandLine, CaptureStoresTheShapesInTheSavedFlow) {
    // Three particle frames of different sizes.
    for (int f = 0; f < 3; ++f) {
        Image* img = new Image(4 + f, 4);
        img->Fill(HostPixel{uint32_t(f * 20000), 65535, 0, 65535});
        fs::create_directories(Dir / "shapes");
        lumets::WriteImageFile(*img, (Dir / "shapes" / ("s.0" + std::to_string(f) + ".png")).string());
        img->Recycle();
    }
    Write("cap.json", R"({"flow": 1, "frames": [0, 10], "particle": "shapes/s.##.png",
        "background": {"width": 32, "height": 32}, "controls": {"Birthrate": 2}})");
    const Result r = Run("capture cap.json --frames 0-2 --save saved/cap2.json");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto saved = nlohmann::json::parse(ReadAll(Dir / "saved" / "cap2.json"));
    const auto bytes = lumets::DecodeBase64(saved["operatorData"].get<std::string>());
    ASSERT_TRUE(bytes && bytes->size() > 3u * 16u);
    EXPECT_EQ((*bytes)[0], 0x0D);  // class ID 0x8046000D first, little-endian
    EXPECT_EQ((*bytes)[3], 0x80);
    EXPECT_EQ(saved["particle"], "../shapes/s.##.png");  // still names the same files
    EXPECT_EQ(Run("render saved/cap2.json -q --frames 0-2 -o out2/f.####.png").Status, 0);
    EXPECT_EQ(FilesIn("out2").size(), 3u);

    // A range the particle sequence does not cover fails before anything is written.
    const Result missing = Run("capture cap.json --frames 0-5 --save saved/cap3.json");
    EXPECT_NE(missing.Status, 0);
    EXPECT_NE(missing.Err.find("missing file shapes/s.03.png"), std::string::npos) << missing.Err;
    EXPECT_FALSE(fs::exists(Dir / "saved" / "cap3.json"));
}

TEST_F(CommandLine, VersionControlsAndDemo) {
    // lumets and its plug-in come from the same build: one version on both lines.
    const Result v = Run("--version");
    ASSERT_EQ(v.Status, 0) << v.Err;
    const std::string line = v.Out.substr(0, v.Out.find('\n'));
    ASSERT_EQ(line.rfind("lumets ", 0), 0u) << v.Out;
    const std::string version = line.substr(7);
    EXPECT_NE(v.Out.find("\nplug-in SamplePlugIn (Lumet-s v2.0) version " + version + " from /"), std::string::npos)
        << v.Out;
    EXPECT_NE(v.Out.find("lumets_particles.so\n"), std::string::npos) << v.Out;

    const Result r = Run("controls --json");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j["registry"]["classId"], "SamplePlugIn");
    ASSERT_EQ(j["pages"].size(), 10u);
    const nlohmann::json want = {{"label", "Reset Position"}, {"member", "InResetPosition"}, {"id", 1953719634u},
                                 {"idText", "Rest"},           {"control", "BtnC"},          {"viewControl", nullptr}};
    for (const auto& [key, value] : want.items()) EXPECT_EQ(j["pages"][0]["inputs"][0].at(key), value) << key;
    EXPECT_EQ(j["images"][0]["member"], "InParticleImage");
    EXPECT_EQ(j["images"][0]["id"], 40922825u);

    // The demo needs no input files.
    ASSERT_EQ(Run("demo -q -o demo --frames 0-2").Status, 0);
    EXPECT_EQ(FilesIn("demo"), (std::vector<std::string>{"demo.0000.png", "demo.0001.png", "demo.0002.png"}));
}

TEST_F(CommandLine, CtrlCStopsAfterTheCurrentFrameWithNoPartialFile) {
    WriteFlow("long.json", 100000);
    // SIGTERM is how a farm cancels a task: it stops the same way, with its own status.
    for (const auto& [sig, expected] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        fs::remove_all(Dir / "out");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir(Dir.c_str()) != 0) _exit(99);
            freopen("/dev/null", "w", stderr);
            execl(LUMETS_EXE, LUMETS_EXE, "render", "long.json", "-q", "-o", "out/f.######.png", (char*)nullptr);
            _exit(98);
        }
        for (int i = 0; i < 200 && FilesIn("out").size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << sig;
        EXPECT_EQ(WEXITSTATUS(status), expected);
        const auto files = FilesIn("out");
        EXPECT_GE(files.size(), 3u);
        EXPECT_LT(files.size(), 100001u);
        for (const auto& f : files) EXPECT_NE(f[0], '.') << "temporary file left: " << f;
    }
}
