// Playing back a motion-data file: loading it, rebuilding the particles of each
// requested time from the two nearest recorded frames, and unloading it.
#include <cmath>
#include <mutex>
#include <vector>

#include "motiondata/motion_file.h"
#include "motiondata/user_dialogs.h"
#include "operator/particle_operator.h"

using namespace motion_file;

namespace {

// Reads exactly n bytes at offset; false on a short read, an error or an offset
// range that does not fit in the file's 32-bit offsets.
bool ReadExactly(platform::FileHandle h, uint64_t offset, void* buf, size_t n) {
    if (offset + n > OffsetLimit) return false;
    return platform::Get().ReadAt(h, offset, buf, n) == int64_t(n);
}

bool Finite(const Record& r) {
    return std::isfinite(r.X) && std::isfinite(r.Y) && std::isfinite(r.Angle) && std::isfinite(r.Age) &&
           std::isfinite(r.Size);
}

// The controls of the simulation disappear while a system plays back.
void SwitchControlsToPlayback(ParticleOperator& op) {
    using P = ParticleOperator;
    P::SetDisabled(op.InLoadSystem, 1);
    P::SetDisabled(op.InUnloadSystem, 0);
    for (Input* in : {op.InResetPosition, op.InFastForward}) P::SetVisible(in, 0);
    for (Input* in : {op.InRollFrames,       op.InStartingAngle,     op.InRotationSpeed,     op.InRotationVariance,
                      op.InBanking,          op.InBirthrate,         op.InSlowMotion,        op.InTumble,
                      op.InLifetime,         op.InApplyBirthImage,   op.InSpeed,             op.InSpread,
                      op.InSpeedVariance,    op.InGravity,           op.InAttractor1Enable,  op.InAttractor1Strength,
                      op.InAttractor2Enable, op.InAttractor2Strength, op.InEnableScale,      op.InBounce1Elasticity,
                      op.InBounce1Roughness, op.InBounce1Enable,     op.InBounce2Elasticity, op.InBounce2Roughness,
                      op.InBounce2Enable}) {
        P::SetDisabled(in, 1);
        P::SetVisible(in, 0);
    }
    for (Input* in : {op.InGeneralSize, op.InSizeVariance}) P::SetVisible(in, 0);
    for (Input* in : {op.InOrientation, op.InGravityAngle, op.InAttractor1, op.InAttractor2, op.InBounce1Start,
                      op.InBounce1End, op.InBounce2Start, op.InBounce2End, op.InStart, op.InEnd}) {
        P::SetDisabled(in, 1);
        P::SetVisible(in, 0);
        P::SetViewVisible(in, 0);
    }
    for (Input* in : {op.InUseBirthSpline, op.InPathBinding, op.InPathSpeedVariance, op.InStrictMode,
                      op.InStrictDeviation, op.InMaximumDeviation}) {
        P::SetVisible(in, 0);
    }
    for (Input* in : {op.InBirthSpline, op.InPathPolyline}) {
        P::SetVisible(in, 0);
        P::SetViewVisible(in, 0);
    }
}

// A switch's value at a time; on means above 0.5.
bool SwitchOn(Input* in, double time) {
    Parameter* p = in->GetValue(time);
    if (!p) return false;
    bool on = p->DataType == DT_Number && static_cast<Number*>(p)->Value > 0.5;
    p->Recycle();
    return on;
}

void Show(Input* in, bool viewControl) {
    ParticleOperator::SetDisabled(in, 0);
    ParticleOperator::SetVisible(in, 1);
    if (viewControl) ParticleOperator::SetViewVisible(in, 1);
}

// Back to the simulation's controls; the dependent controls follow their switches.
void SwitchControlsToSimulation(ParticleOperator& op, double time) {
    using P = ParticleOperator;
    P::SetDisabled(op.InLoadSystem, 0);
    P::SetDisabled(op.InUnloadSystem, 1);
    for (Input* in : {op.InResetPosition,   op.InFastForward,      op.InRollFrames,    op.InStartingAngle,
                      op.InRotationSpeed,   op.InRotationVariance, op.InBanking,       op.InBirthrate,
                      op.InSlowMotion,      op.InTumble,           op.InLifetime,      op.InApplyBirthImage,
                      op.InSpeed,           op.InSpread,           op.InSpeedVariance, op.InGravity,
                      op.InAttractor1Enable, op.InAttractor2Enable, op.InEnableScale,  op.InBounce1Enable,
                      op.InBounce2Enable}) {
        Show(in, false);
    }
    Show(op.InOrientation, true);
    Show(op.InGravityAngle, true);

    if (SwitchOn(op.InEnableScale, time)) {
        Show(op.InGeneralSize, false);
        Show(op.InSizeVariance, false);
    }
    if (SwitchOn(op.InAttractor1Enable, time)) {
        Show(op.InAttractor1, true);
        Show(op.InAttractor1Strength, false);
    }
    if (SwitchOn(op.InAttractor2Enable, time)) {
        Show(op.InAttractor2, true);
        Show(op.InAttractor2Strength, false);
    }
    if (SwitchOn(op.InBounce1Enable, time)) {
        Show(op.InBounce1Start, true);
        Show(op.InBounce1End, true);
        Show(op.InBounce1Elasticity, false);
        Show(op.InBounce1Roughness, false);
    }
    if (SwitchOn(op.InBounce2Enable, time)) {
        Show(op.InBounce2Start, true);
        Show(op.InBounce2End, true);
        Show(op.InBounce2Elasticity, false);
        Show(op.InBounce2Roughness, false);
    }
    P::SetVisible(op.InUseBirthSpline, 1);
    if (!SwitchOn(op.InUseBirthSpline, time)) {
        Show(op.InStart, true);
        Show(op.InEnd, true);
    } else {
        P::SetVisible(op.InBirthSpline, 1);
        P::SetViewVisible(op.InBirthSpline, 1);
    }
    P::SetVisible(op.InPathBinding, 1);
    if (SwitchOn(op.InPathBinding, time)) {
        P::SetVisible(op.InPathPolyline, 1);
        P::SetViewVisible(op.InPathPolyline, 1);
    }
    P::SetVisible(op.InPathSpeedVariance, 1);
    P::SetVisible(op.InStrictMode, 1);
    if (SwitchOn(op.InStrictMode, time)) {
        P::SetVisible(op.InStrictDeviation, 1);
        P::SetVisible(op.InMaximumDeviation, 1);
    }
}

void SetSystemFileText(Input* in, const std::string& name, double time) {
    Text* text = new Text(name);
    in->SetValue(text, time, 1);
    text->Recycle();
}

}  // namespace

// Opens a motion-data file for playback. The caller keeps renders out (the load
// button holds the render gate; OnAddToFlow runs before any render).
void ParticleOperator::LoadMotionFile(const char* name) {
    platform::FileHandle h = platform::Get().OpenFile(name ? name : "", platform::OpenMode::OpenForRead);
    if (h == platform::NoFile) {
        user_dialogs::Warn("Error on Loading File", "WARNING");
        return;
    }
    // A file that cannot be interpolated (fewer than two frame entries) or whose
    // count is damaged (negative, or a table beyond the 32-bit offsets) is refused
    // like one that cannot be opened.
    int32_t count = 0;
    if (platform::Get().ReadAt(h, 0, &count, 4) != 4 || count < 2 || DataStart(count) >= OffsetLimit) {
        platform::Get().CloseFile(h);
        user_dialogs::Warn("Error on Loading File", "WARNING");
        return;
    }
    platform::CloseAndForget(PlaybackFile);
    // Simulated particles still in the pool own their shape images; give them back
    // now, since once SystemLoaded is set the pending reset would only drop them.
    if (!SystemLoaded) ClearParticles();
    PlaybackFile = h;
    ResetRequested = 1;
    Pool.BirthAccumulator = 0.0;
    FileFrameCount = count;
    NextDataOffset = uint32_t(DataStart(count));
    Frame.ApplyBirthImage = 1;
    // A pending reset from before the load empties the pool but keeps this file.
    CloseFilesOnReset = 0;
    SystemLoaded = 1;
    SwitchControlsToPlayback(*this);
}

// Rebuilds the live particles for the request time from the loaded file. The time
// maps linearly onto the recorded frames over the load range (mirrored when
// reversed); the pool gets the particles that live in both neighbouring frames,
// interpolated between them. A frame whose data is missing or damaged shows no
// particles; playback goes on at the next request.
void ParticleOperator::ReadMotionFrame(double time) {
    if (!(time >= Frame.LoadStartFrame && time <= Frame.LoadLastFrame)) {
        ClearParticles();
        return;
    }
    const int32_t span = Frame.LoadLastFrame - Frame.LoadStartFrame;
    const int32_t n = FileFrameCount;
    if (span <= 0 || n < 2 || PlaybackFile == platform::NoFile) {
        // Nothing to interpolate over: a range of one frame, or no file held (a
        // load that was cancelled after the earlier file was closed).
        ClearParticles();
        return;
    }
    double s = (time - Frame.LoadStartFrame) / span;
    if (ReversePlayback) s = 1.0 - (time - Frame.LoadStartFrame) / span;
    PlaybackPosition = s * (n - 1.01);
    const int32_t k = int32_t(PlaybackPosition);
    const double f = PlaybackPosition - k;

    // Entries k and k + 1 lie side by side: one read for both.
    RecordOffset = uint32_t(EntryOffset(k));
    NextFrameOffset = uint32_t(EntryOffset(k + 1));
    unsigned char entries[2 * EntrySize];
    ClearParticles();
    if (!ReadExactly(PlaybackFile, RecordOffset, entries, sizeof entries)) return;
    const FrameEntry a = DecodeEntry(entries);
    const FrameEntry b = DecodeEntry(entries + EntrySize);

    // Entries never written stay zero, so their data offset points into the table;
    // offsets are checked against the data region and the record grid, counts
    // against the pool. Any mismatch means the frame cannot be trusted.
    const uint64_t dataStart = DataStart(n);
    auto offsetValid = [&](uint32_t off) { return off >= dataStart && (off - dataStart) % RecordSize == 0; };
    if (!offsetValid(a.DataOffset) || !offsetValid(b.DataOffset)) return;
    if (a.Live < 0 || a.Live > MaxLiveCount || b.Live < 0 || b.Live > MaxLiveCount) return;
    if (b.Retired < 0 || !std::isfinite(a.Lifetime)) return;

    NextDataOffset = a.DataOffset;
    const int32_t retired = b.Retired;
    const int32_t shared = a.Live > retired ? a.Live - retired : 0;
    Frame.Lifetime = a.Lifetime;
    NextFrameOffset = b.DataOffset;

    if (shared > 0) {
        // The first R records of frame k are the particles that retire in frame k + 1;
        // the shared particles follow them.
        const uint64_t sharedStart = uint64_t(a.DataOffset) + uint64_t(RecordSize) * uint64_t(retired);
        if (sharedStart >= OffsetLimit) return;
        RecordOffset = uint32_t(sharedStart);
        const size_t bytes = size_t(shared) * RecordSize;
        std::vector<unsigned char> blockA(bytes), blockB(bytes);
        if (!ReadExactly(PlaybackFile, RecordOffset, blockA.data(), bytes)) return;
        if (!ReadExactly(PlaybackFile, NextFrameOffset, blockB.data(), bytes)) {
            // The following frame runs past the end of the file: playback ends. Loaded
            // particles own no shape image, so the pool is emptied while SystemLoaded
            // still says so.
            ClearParticles();
            CloseMotionFiles();
            Frame.ApplyBirthImage = 0;
            return;
        }
        // Interpolate every particle first so that a damaged record leaves the pool
        // empty rather than half filled.
        std::vector<Record> mixed(static_cast<size_t>(shared));
        for (int32_t i = 0; i < shared; ++i) {
            const Record ra = DecodeRecord(&blockA[size_t(i) * RecordSize]);
            const Record rb = DecodeRecord(&blockB[size_t(i) * RecordSize]);
            Record& m = mixed[size_t(i)];
            m.X = (1.0 - f) * ra.X + f * rb.X;
            m.Y = (1.0 - f) * ra.Y + f * rb.Y;
            m.Angle = (1.0 - f) * ra.Angle + f * rb.Angle;
            m.Age = (1.0 - f) * ra.Age + f * rb.Age;
            m.Size = (1.0 - f) * ra.Size + f * rb.Size;
            if (!Finite(m)) return;
        }
        RecordOffset += uint32_t(bytes);
        NextFrameOffset += uint32_t(bytes);
        for (const Record& m : mixed) {
            Particle& p = Pool.Particles[Pool.NextIndex];
            p.Position = Vec2d(m.X, m.Y);
            p.Angle = m.Angle;
            p.Age = m.Age;
            p.Size = m.Size;
            p.ShapeImage = nullptr;  // loaded particles own no image copy
            Pool.NextIndex = Pool.NextIndex + 1 == PoolSize ? 0 : Pool.NextIndex + 1;
            ++Pool.LiveCount;
        }
    }
    Frame.ApplyBirthImage = 1;
}

void ParticleOperator::OnLoadSystem(double time) {
    if (Recording) {
        user_dialogs::Warn("Output File Open!");
        return;
    }
    {
        std::lock_guard<std::mutex> gate(RenderGate);
        platform::CloseAndForget(PlaybackFile);
    }
    std::optional<std::string> name = user_dialogs::AskMotionFile(user_dialogs::LoadTitle, InitialDirectory);
    if (!name) {
        user_dialogs::Warn("Error on opening file");
        return;
    }
    MotionFileName = *name;
    bool loaded = false;
    {
        std::lock_guard<std::mutex> gate(RenderGate);
        LoadMotionFile(MotionFileName.c_str());
        loaded = SystemLoaded && PlaybackFile != platform::NoFile;
    }
    // The host keeps the name with the flow, so that the flow loads the same file
    // again when it is opened.
    if (loaded) SetSystemFileText(InSystemFile, MotionFileName, time);
}

void ParticleOperator::OnUnloadSystem(double time) {
    {
        std::lock_guard<std::mutex> gate(RenderGate);
        platform::CloseAndForget(PlaybackFile);
        // Loaded particles own no shape image: empty the pool while SystemLoaded
        // still says so.
        ClearParticles();
        SystemLoaded = 0;
    }
    SetSystemFileText(InSystemFile, std::string(), time);
    SwitchControlsToSimulation(*this, time);
}
