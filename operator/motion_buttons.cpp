// The motion-data buttons ("Save MotionData under...", "Record now", "Load
// System", "Unload System") and the render end: the operator's side of recording
// and playback, over the recorder and the player.
#include <mutex>
#include <optional>
#include <string>

#include "host/messages.h"
#include "motiondata/motion_file.h"
#include "operator/user_dialogs.h"
#include "operator/particle_operator.h"

namespace {

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

void SetSystemFileText(Input* in, const std::string& name, double time) {
    Text* text = new Text(name);
    in->SetValue(text, time, 1);
    text->Recycle();
}

}  // namespace

// The controls of the simulation disappear while a system plays back.
void ParticleOperator::SwitchControlsToPlayback() {
    using P = ParticleOperator;
    ParticleOperator& op = *this;
    P::SetDisabled(op.InLoadSystem, 1);
    P::SetDisabled(op.InUnloadSystem, 0);
    for (Input* in : {op.InResetPosition, op.InFastForward}) P::SetVisible(in, 0);
    for (Input* in : {op.InRollFrames,       op.InStartingAngle,     op.InRotationSpeed,     op.InRotationVariance,
                      op.InBanking,          op.InBirthrate,         op.InSlowMotion,        op.InTumble,
                      op.InLifetime,         op.InApplyBirthImage,   op.InSpeed,             op.InSpread,
                      op.InSpeedVariance,    op.InGravity,           op.InAttractor1Enable,  op.InAttractor1Strength,
                      op.InAttractor2Enable, op.InAttractor2Strength, op.InEnableScale,      op.InBounce1Elasticity,
                      op.InBounce1Roughness, op.InBounce1Enable,     op.InBounce2Elasticity, op.InBounce2Roughness,
                      op.InBounce2Enable,    op.InTurbulence,        op.InTurbulenceScale,   op.InTurbulenceSpeed,
                      op.InWind}) {
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


// Back to the simulation's controls; the dependent controls follow their switches.
void ParticleOperator::SwitchControlsToSimulation(double time) {
    using P = ParticleOperator;
    ParticleOperator& op = *this;
    P::SetDisabled(op.InLoadSystem, 0);
    P::SetDisabled(op.InUnloadSystem, 1);
    for (Input* in : {op.InResetPosition,   op.InFastForward,      op.InRollFrames,    op.InStartingAngle,
                      op.InRotationSpeed,   op.InRotationVariance, op.InBanking,       op.InBirthrate,
                      op.InSlowMotion,      op.InTumble,           op.InLifetime,      op.InApplyBirthImage,
                      op.InSpeed,           op.InSpread,           op.InSpeedVariance, op.InGravity,
                      op.InAttractor1Enable, op.InAttractor2Enable, op.InEnableScale,  op.InBounce1Enable,
                      op.InBounce2Enable,   op.InTurbulence,       op.InTurbulenceScale, op.InTurbulenceSpeed,
                      op.InWind}) {
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

// Closes both motion-data files and ends playback and recording. The control
// layout stays as it is. Runs on the render thread (reset, end of a loaded file)
// under the render gate, so it takes no lock itself.
void ParticleOperator::CloseMotionFiles() {
    Player.Close();
    SystemLoaded = 0;
    Recorder.Close();
    Recording = 0;
}

// Opens a motion-data file for playback. The caller keeps renders out (the load
// button holds the render gate; OnAddToFlow runs before any render).
void ParticleOperator::LoadMotionFile(const char* name) {
    // A file that cannot be opened or played is refused; the file held stays.
    if (!Player.Open(name ? name : "")) {
        user_dialogs::Warn(platform::MessageKind::LoadFailed, "Error on Loading File", "WARNING");
        return;
    }
    // Simulated particles still in the pool own their shape images; give them back
    // now, since once SystemLoaded is set the pending reset would only drop them.
    if (!SystemLoaded) ClearParticles();
    ResetRequested = 1;
    Pool.BirthAccumulator = 0.0;
    Frame.Birth.ApplyBirthImage = 1;
    // A pending reset from before the load empties the pool but keeps this file.
    CloseFilesOnReset = 0;
    SystemLoaded = 1;
    SwitchControlsToPlayback();
}

// Rebuilds the live particles for the request time from the loaded file. A frame
// whose data is missing or damaged shows no particles; playback goes on at the
// next request. When the following recorded frame runs past the end of the file
// playback ends.
// With motion blur on, the pool's slots for the particles' earlier states;
// otherwise null (and none are kept).
ParticleBefore* ParticleOperator::BeforeSlots() {
    if (Frame.Motion.Blur == 0) {
        Pool.Before.clear();
        return nullptr;
    }
    Pool.Before.resize(std::size_t(PoolSize));
    return Pool.Before.data();
}

void ParticleOperator::ReadMotionFrame(double time) {
    ClearParticles();
    const MotionPlayer::Frame frame =
        Player.ReadFrame(time, PlaybackRange{Frame.Range.LoadStartFrame, Frame.Range.LoadLastFrame, ReversePlayback != 0},
                         PoolSlots{Pool.Particles, PoolSize, &Pool.NextIndex, &Pool.LiveCount, BeforeSlots()});
    if (frame.Lifetime) Frame.Lifetime = *frame.Lifetime;
    if (frame.Result == MotionPlayer::Outcome::Shown) {
        Frame.Birth.ApplyBirthImage = 1;
    } else if (frame.Result == MotionPlayer::Outcome::Ended) {
        // Loaded particles own no shape image; the pool is already empty while
        // SystemLoaded still says so.
        CloseMotionFiles();
        Frame.Birth.ApplyBirthImage = 0;
    }
}

void ParticleOperator::OnLoadSystem(double time) {
    if (Recording) {
        user_dialogs::Warn(platform::MessageKind::FileAlreadyOpen, "Output File Open!");
        return;
    }
    {
        std::lock_guard<std::mutex> gate(RenderGate);
        Player.Close();
    }
    std::optional<std::string> name = user_dialogs::AskMotionFile(user_dialogs::LoadTitle, InitialDirectory);
    if (!name) {
        user_dialogs::Warn(platform::MessageKind::NoFileChosen, "Error on opening file");
        return;
    }
    MotionFileName = *name;
    bool loaded = false;
    {
        std::lock_guard<std::mutex> gate(RenderGate);
        LoadMotionFile(MotionFileName.c_str());
        loaded = SystemLoaded && Player.IsOpen();
    }
    // The host keeps the name with the flow, so that the flow loads the same file
    // again when it is opened.
    if (loaded) SetSystemFileText(InSystemFile, MotionFileName, time);
}

void ParticleOperator::OnUnloadSystem(double time) {
    {
        std::lock_guard<std::mutex> gate(RenderGate);
        Player.Close();
        // Loaded particles own no shape image: empty the pool while SystemLoaded
        // still says so.
        ClearParticles();
        SystemLoaded = 0;
    }
    SetSystemFileText(InSystemFile, std::string(), time);
    SwitchControlsToSimulation(time);
}

void ParticleOperator::OnSaveFile(double /*time*/) {
    std::optional<std::string> name = user_dialogs::AskMotionFile(user_dialogs::SaveTitle, InitialDirectory);
    // A cancelled dialog forgets the earlier choice: "Record now" then asks for one.
    MotionFileName = name ? *name : std::string();
}

void ParticleOperator::OnRecordNow(double /*time*/) {
    std::lock_guard<std::mutex> gate(RenderGate);
    if (Recording) {
        // Pressed again during a recording: stop it here. The render end that
        // follows finds no file and says nothing more.
        Recorder.Close();
        Recording = 0;
        if (Recorder.Failed()) {
            user_dialogs::ReportIncompleteRecording(Recorder.Failed());
        } else {
            user_dialogs::Plain(platform::MessageKind::RecordingStopped, MotionFileName, "Particle Data Saved in File");
        }
        return;
    }
    if (SystemLoaded) {
        user_dialogs::Warn(platform::MessageKind::FileAlreadyOpen, "Input File Open!");
        return;
    }
    Recorder.Close();
    if (MotionFileName.empty()) {
        user_dialogs::Warn(platform::MessageKind::NoSaveFile, "No Save File Specified!");
        return;
    }
    int64_t frames = int64_t(Frame.Range.RecordLastFrame) - int64_t(Frame.Range.RecordStartFrame) + 1;
    if (frames < 1) {
        // A last frame before the start frame gives no frame to record; refuse before
        // an existing file of that name is replaced.
        user_dialogs::Warn(platform::MessageKind::RecordingRangeEmpty, "Recording range is empty!");
        return;
    }
    if (!motion_file::CountInRange(frames)) {
        // The frame table alone would pass the 32-bit file offsets.
        user_dialogs::Warn(platform::MessageKind::RecordingRangeTooLong, "Recording range is too long!");
        return;
    }
    if (!Recorder.Create(MotionFileName, int32_t(frames))) {
        user_dialogs::Warn(platform::MessageKind::FileNotCreated, "Error on opening file");
        return;
    }
    // A "Reset Position" still waiting for its frame was pressed before this file
    // existed: it empties the pool but must not close the new recording.
    CloseFilesOnReset = 0;
    ResetRequested = 1;
    Pool.BirthAccumulator = 0.0;
    Recording = 1;
    SkipCompositing = 1;
    if (MsgPort* port = GetMsgPort()) {
        port->PutMsg(new RenderMessage(double(Frame.Range.RecordStartFrame), double(Frame.Range.RecordLastFrame), 0, nullptr, this, 0, 1));
    }
}

// The end of every render: closes a finished recording, empties the pool and
// completes or abandons a shape capture.
void ParticleOperator::OnEndRender() {
    std::lock_guard<std::mutex> gate(RenderGate);
    if (Recorder.IsOpen()) {
        Recorder.Close();
        Recording = 0;
        if (Recorder.Failed()) {
            user_dialogs::ReportIncompleteRecording(Recorder.Failed());
        } else {
            user_dialogs::Inform(platform::MessageKind::RecordingWritten, "Output File written!", "Confirm");
        }
    }
    ClearParticles();
    Recording = 0;
    SkipCompositing = 0;
    if (Shapes.Capturing()) {
        if (Shapes.CaptureComplete()) {
            Shapes.CompleteCapture();
            return;
        }
        user_dialogs::Inform(platform::MessageKind::CaptureIncomplete, "Image Sequence not completed!", "Confirm");
        Shapes.DropCapture();
    }
}
