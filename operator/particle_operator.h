#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/operator.h"
#include "host/platform.h"
#include "motiondata/motion_player.h"
#include "motiondata/motion_recorder.h"
#include "operator/host_pass_runner.h"
#include "render/compositor.h"
#include "render/live_particles.h"
#include "render/shape_library.h"
#include "render/shape_set.h"
#include "simulation/frame_settings.h"
#include "simulation/particle.h"
#include "simulation/particle_system.h"
#include "simulation/random_source.h"
#include "simulation/segment_path.h"
#include "simulation/vec2d.h"
#include "simulation/worker_pass.h"

class Registry;

// Flags shared between the interface side (control changes, render end) and the
// render thread: plain 0/1 values, atomic so that neither side races the other.
using Flag = std::atomic<int32_t>;

// The class ID written as the first word of every saved operator.
constexpr uint32_t ClassId = 0x8046000D;
// End marker of the operator's saved block; its bytes spell "EndC".
constexpr uint32_t ShapeEndMarker = 0x43646E45;

// The particle tool. One object per tool in a flow; it holds the whole particle
// pool inline, so it is large and never copied. The frame settings (FrameSettings)
// and the pool with its simulation (ParticleSystem) are parts of their own, in
// simulation/; the operator reads the former from each request and hands both,
// with its switches and its generator, to the simulation.
//
// The member functions are implemented by subsystem:
//   operator/    construction, controls, change handling, saved block, the
//                frame driver, the reading of the frame settings, the
//                motion-data and capture buttons and the render end
//   simulation/  the pool: birth, ageing, free and path-bound motion
//   render/      shapes, resampling, compositing
//   motiondata/  the motion-data file, its recorder and its player
class ParticleOperator : public ThreadedOperator {
public:
    ParticleOperator(Registry* registry, CArchive* archive, TagList* tags);

    // --- host virtual operations ---
    uint32_t Save(CArchive* archive, TagList* tags) override;
    void OnAddToFlow() override;
    void OnEndRender() override;
    void Process(Request* req) override;
    void NotifyChanged(Input* in, Parameter* value, double time) override;
    void ProcessChunk(Request* req, long chunk) override;
    std::unique_ptr<SimulationState> SaveState() override;
    bool RestoreState(const SimulationState& state) override;

    // --- operator shell (operator/) ---
    // Whether the simulation state can be saved or restored now: not while a
    // motion-data file is recorded or played, shapes are captured, or the shape
    // source is reduced (proxy shapes are kept per render).
    bool StateIsPortable() const;
    void CreateControls();
    void ReadSavedBlock(CArchive* archive);
    // Attribute helpers on inputs.
    static void SetDisabled(Input* in, int32_t v);
    static void SetVisible(Input* in, int32_t v);
    static void SetViewVisible(Input* in, int32_t v);

    // --- the pool's simulation, with this tool's switches, shape and generator (operator/process.cpp) ---
    void BirthParticle();
    void ClearParticles();
    // Ages every live particle by one step and retires the expired ones; returns
    // how many retired.
    int32_t AgeParticles();
    void StepParticles();
    Particle& LiveParticle(int32_t i) { return Pool.Live(i); }

    // --- frame settings (operator/frame_settings.cpp) and rendering ---
    // Frame is refreshed from the request in two parts around the pending reset:
    // the scalar controls and the images, then points, curves, lines and paths.
    void RefreshScalarSettings(Request* req);
    void FinishFrameSettings(Request* req);
    // The motion page's values (motion blur, turbulence, wind), held within their ranges.
    void RefreshMotionSettings(Request* req);
    void CompositeParticles(Request* req);
    LiveParticles LiveParticlesView() const;
    SourceScale ShapeSourceScale() const { return {Frame.ProxyScaleX, Frame.ProxyScaleY}; }

    // --- motion data (motiondata/) ---
    void CloseMotionFiles();
    void LoadMotionFile(const char* name);
    void ReadMotionFrame(double time);
    ParticleBefore* BeforeSlots();
    void OnSaveFile(double time);
    void OnUnloadSystem(double time);
    void OnLoadSystem(double time);
    void OnRecordNow(double time);
    void OnPreloadShapes(double time);  // the capture buttons (operator/)
    void OnDeletePreloaded(double time);

    // The input a flow names by the given key ("Birthrate"), or null: for code
    // outside the tool (tests, tools) that drives its controls.
    Input* ControlInput(std::string_view key) const;
    // The input handles, one for each input of the control table that holds a
    // value, in table order.
    static std::span<Input* ParticleOperator::* const> ControlHandles();

    Output* OutImage = nullptr;

    // --- request links (valid during one request) ---
    Request* CurrentRequest = nullptr;
    Image* BackgroundImage = nullptr;
    Image* OutputImage = nullptr;
    Image* ShapeSource = nullptr;

    // --- frame settings ---
    FrameSettings Frame;
    // The check boxes of the attractors and the bounce lines.
    Flag AttractorEnabled[2]{}, BounceLineEnabled[2]{};
    // Composites the frame's particles; keeps its per-particle plans from frame
    // to frame (only Process, under RenderGate, uses it).
    Compositor Compositing;

    // --- simulation state and flags ---
    Flag ResetRequested{0}, CloseFilesOnReset{0}, Recording{0}, SystemLoaded{0};
    Flag ScaleEnabled{0}, FadeEnabled{0}, GrowEnabled{0}, BlurEnabled{0}, TintEnabled{0};
    Flag BankingEnabled{0}, UseBirthSpline{0}, StrictModeEnabled{0}, PathBindingEnabled{0};
    Flag ReversePlayback{0};
    Flag SkipCompositing{0};
    Flag FastForwardRequested{0};

    // --- motion data ---
    std::string MotionFileName;
    std::string InitialDirectory;
    MotionRecorder Recorder;
    MotionPlayer Player;

    // --- shapes: the input's copies, the captured set and its working set ---
    ShapeLibrary Shapes;

    // --- randomness ---
    RandomSource Random;
    // The generator's starting seed (the flow's), which the turbulence is made from.
    uint32_t FlowSeed = 1;

    // Held by Process for the whole call, and by the interface-side actions that
    // free shapes or close files, so those never overlap a render.
    std::mutex RenderGate;

    // Runs worker passes (compositing, the parallel part of a step) on the
    // host's workers; ProcessChunk hands it the chunks of the pass under way.
    HostPassRunner Passes{*this, CurrentRequest};

    // --- the pool ---
    ParticleSystem Pool;

protected:
    ~ParticleOperator() override;

private:
    // The controls of the simulation hide while a system plays back, and come
    // back (the dependent ones following their switches) when it is unloaded.
    void SwitchControlsToPlayback();
    void SwitchControlsToSimulation(double time);

    // --- control handles (named after the inputs) ---
    Input *InResetPosition = nullptr, *InFastForward = nullptr, *InRollFrames = nullptr;
    Input *InBirthrate = nullptr, *InLifetime = nullptr, *InSlowMotion = nullptr;
    Input *InApplyBirthImage = nullptr, *InEnableScale = nullptr, *InGeneralSize = nullptr;
    Input *InSizeVariance = nullptr, *InStart = nullptr, *InEnd = nullptr;
    Input *InUseBirthSpline = nullptr, *InBirthSpline = nullptr;
    Input *InOrientation = nullptr, *InSpread = nullptr, *InSpeed = nullptr, *InSpeedVariance = nullptr;
    Input *InGravity = nullptr, *InGravityAngle = nullptr;
    Input *InEnableFade = nullptr, *InMergeSpline = nullptr, *InEnableGrow = nullptr, *InGrowSpline = nullptr;
    Input *InMaximumSize = nullptr, *InEnableBlur = nullptr, *InBlurSpline = nullptr, *InMaximumBlur = nullptr;
    Input *InMerge = nullptr, *InBlurQuality = nullptr, *InImageStartFrame = nullptr, *InImageLastFrame = nullptr;
    Input *InPreloadShapes = nullptr, *InDeletePreloaded = nullptr, *InFreeze = nullptr;
    Input *InRotationSpeed = nullptr, *InRotationVariance = nullptr, *InStartingAngle = nullptr, *InBanking = nullptr;
    Input *InAttractor1Enable = nullptr, *InAttractor1 = nullptr, *InAttractor1Strength = nullptr;
    Input *InAttractor2Enable = nullptr, *InAttractor2 = nullptr, *InAttractor2Strength = nullptr;
    Input *InBounce1Enable = nullptr, *InBounce1Elasticity = nullptr, *InBounce1Roughness = nullptr;
    Input *InBounce1Start = nullptr, *InBounce1End = nullptr;
    Input *InBounce2Enable = nullptr, *InBounce2Elasticity = nullptr, *InBounce2Roughness = nullptr;
    Input *InBounce2Start = nullptr, *InBounce2End = nullptr, *InTumble = nullptr;
    Input *InSaveFile = nullptr, *InRecordStartFrame = nullptr, *InRecordLastFrame = nullptr, *InRecordNow = nullptr;
    Input *InLoadStartFrame = nullptr, *InLoadLastFrame = nullptr, *InLoadSystem = nullptr, *InReverse = nullptr;
    Input *InLoadedNotice = nullptr, *InUnloadSystem = nullptr, *InSystemFile = nullptr;
    Input *InPathBinding = nullptr, *InPathPolyline = nullptr, *InPathSpeedVariance = nullptr;
    Input *InStrictMode = nullptr, *InStrictDeviation = nullptr, *InMaximumDeviation = nullptr;
    Input *InColorTinting = nullptr, *InRedSpline = nullptr, *InGreenSpline = nullptr, *InBlueSpline = nullptr;
    Input *InEditRed = nullptr, *InEditGreen = nullptr, *InEditBlue = nullptr, *InColorMorph = nullptr;
    Input *InMotionBlur = nullptr, *InShutterAngle = nullptr, *InShutterOffset = nullptr;
    Input *InMotionBlurSamples = nullptr, *InTurbulence = nullptr, *InTurbulenceScale = nullptr;
    Input *InTurbulenceSpeed = nullptr, *InWind = nullptr;
    Input *InParticleImage = nullptr, *InImage = nullptr;
};

// The frame snapshot the compositor draws from, taken from the tool's current
// request.
FrameLook LookAtFrame(const ParticleOperator& op);

// The factory the registration record hands the host.
Operator* CreateParticleOperator(Registry* registry, CArchive* archive, TagList* tags);
