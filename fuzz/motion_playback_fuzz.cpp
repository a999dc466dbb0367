// Fuzz target: a motion-data file (.lpd) as the tool loads and replays it. The
// input is the file's bytes; the tool (made once per process, with a small
// picture) loads it through its own loader, then plays it forwards and in
// reverse over a load range at whole and fractional frame times, and unloads it.
// At most times the frame is rebuilt from the file by the same reader the frame
// driver calls; at two times per pass the whole frame driver runs and composites
// what the file holds. Nothing may crash, overrun, hang or leak a file handle,
// and the pool must stay within its ring whatever the file says.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/tool_harness.h"
#include "memory_platform.h"
#include "motiondata/motion_file.h"

namespace {

constexpr int32_t LoadFirst = 0, LoadLast = 12;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "motion_playback_fuzz: %s\n", what);
        std::abort();
    }
}

struct Fixture {
    fuzzing::MemoryPlatform Files;
    // A small picture: the compositing code is the same, copying the background
    // for every frame is cheaper.
    ToolHarness H{16, 12, 5, 3};
    Fixture() {
        // Curves and polylines get a value once, so that requests do not build
        // their defaults again every time.
        for (Input* in : H.Op->Inputs()) {
            if (in->DataType == DT_LookUpTable || in->DataType == DT_PolyLine) {
                Parameter* p = in->GetValue(0);
                in->SetValue(p, 0, 1);
                p->Recycle();
            }
        }
        H.SetNumber(H.Op->ControlInput("LoadStartFrame"), LoadFirst);
        H.SetNumber(H.Op->ControlInput("LoadLastFrame"), LoadLast);
        H.Request_(0);  // the load range reaches the frame settings
    }
};

void Replay(Fixture& fx, bool reverse) {
    ParticleOperator* op = fx.H.Op;
    fx.H.SetNumber(op->ControlInput("Reverse"), reverse ? 1.0 : 0.0);
    // Before, at and after the range ends, whole and fractional times inside it;
    // full frames (read and composited) at 2.5 and 11.9.
    for (double t : {-1.0, 0.0, 0.25, 1.0, 2.5, 5.0, 7.75, 11.0, 11.9, 12.0, 13.0}) {
        if (t == 2.5 || t == 11.9) {
            fx.H.Request_(t);
        } else {
            std::lock_guard<std::mutex> gate(op->RenderGate);
            op->ReadMotionFrame(t);
        }
        Check(op->Pool.LiveCount >= 0 && op->Pool.LiveCount <= PoolSize, "live count outside the pool");
        Check(op->Pool.NextIndex >= 0 && op->Pool.NextIndex < PoolSize, "ring index outside the pool");
    }
}

}  // namespace

namespace fuzzing {

// One input: the tool (made once and kept) loads, replays and unloads the file.
int RunMotionPlaybackInput(const uint8_t* data, size_t size) {
    static Fixture* fx = new Fixture;
    fuzzing::MemoryPlatform::Use use(fx->Files);
    ParticleOperator* op = fx->H.Op;
    fx->Files.Clear();
    fx->Files.PutFile("input.lpd", data, size);

    op->LoadMotionFile("input.lpd");
    int32_t count = 0;
    if (size >= motion_file::CountSize) std::memcpy(&count, data, motion_file::CountSize);
    Check((op->SystemLoaded != 0) == motion_file::Playable(count), "load disagrees with the playable rule");
    if (op->SystemLoaded) {
        Replay(*fx, false);
        // End of file closes the playback; load again for the reverse pass.
        if (!op->SystemLoaded) op->LoadMotionFile("input.lpd");
        if (op->SystemLoaded) Replay(*fx, true);
    }
    fx->H.Press(op->ControlInput("UnloadSystem"));
    Check(op->SystemLoaded == 0, "still loaded after Unload System");
    Check(!op->Player.IsOpen(), "playback file held after Unload System");
    Check(op->Pool.LiveCount == 0, "particles left after Unload System");
    Check(fx->Files.OpenHandles() == 0, "a file handle was leaked");
    return 0;
}

}  // namespace fuzzing

#ifndef LUMETS_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        SetWorkerThreads(1);  // faults in reading are sought here, not in threading
        return true;
    }();
    (void)once;
    return fuzzing::RunMotionPlaybackInput(data, size);
}
#endif
