#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
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
#include "simulation/particle.h"
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

struct Attractor {
    Flag AttractorEnabled{0};
    Vec2d Position;
    double Strength = 0.0;
};

struct BounceLine {
    Flag Enabled{0};
    double Elasticity = 1.0;
    double Roughness = 0.0;
    Vec2d Start, End, Normal;
};

// The particle tool. One object per tool in a flow; it holds the whole particle
// pool inline, so it is large and never copied.
//
// The member functions are implemented by subsystem:
//   operator/    construction, controls, change handling, saved block, the
//                motion-data and capture buttons and the render end
//   simulation/  birth, ageing, free and path-bound motion
//   render/      the frame driver, frame settings, resampling, compositing
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

    // --- simulation (simulation/) ---
    void BirthParticle();
    void RetireOldest();
    void ClearParticles();
    // Ages every live particle by one step and retires the expired ones; returns
    // how many retired.
    int32_t AgeParticles();
    void StepParticles();
    void FreeStep(Particle& p);
    void PathBoundStep(Particle& p);
    Particle& LiveParticle(int32_t i) { return Particles[(OldestIndex + i) % PoolSize]; }

    // --- frame settings and rendering (render/) ---
    void RefreshScalarSettings(Request* req);  // frame settings steps 1 to 3
    void FinishFrameSettings(Request* req);    // frame settings steps 4 to 8
    void CompositeParticles(Request* req);
    LiveParticles LiveParticlesView() const;
    SourceScale ShapeSourceScale() const { return {ProxyScaleX, ProxyScaleY}; }

    // --- motion data (motiondata/) ---
    void CloseMotionFiles();
    void LoadMotionFile(const char* name);
    void ReadMotionFrame(double time);
    void OnSaveFile(double time);
    void OnUnloadSystem(double time);
    void OnLoadSystem(double time);
    void OnRecordNow(double time);
    void OnPreloadShapes(double time);  // the capture buttons (operator/)
    void OnDeletePreloaded(double time);

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
    Input *InParticleImage = nullptr, *InImage = nullptr;
    Output* OutImage = nullptr;

    // --- request links (valid during one request) ---
    Request* CurrentRequest = nullptr;
    Image* BackgroundImage = nullptr;
    Image* OutputImage = nullptr;
    Image* ShapeSource = nullptr;

    // --- frame settings ---
    int32_t RollFrames = 0;
    double Speed = 0, Orientation = 0, Spread = 0, SpeedVariance = 0, Gravity = 0, GravityAngle = 0;
    double Lifetime = 0, SlowMotion = 0, Tumble = 0;
    int32_t BlurQuality = 0;
    double Birthrate = 0, StartingAngle = 0, RotationSpeed = 0, RotationVariance = 0, Merge = 0;
    int32_t ApplyBirthImage = 0;
    float PathSpeedVariance = 0;
    int32_t HighQuality = 1;
    double ProxyScaleX = 1.0, ProxyScaleY = 1.0;
    double SimStep = 0;
    float FieldFactor = 1.0f;
    double AspectX = 1.0, AspectY = 1.0;
    Vec2d StartPoint, EndPoint, GravityVector;
    Attractor Attractors[2];
    BounceLine BounceLines[2];
    double GeneralSize = 1, SizeVariance = 0;
    LookUpTable* MergeLut = nullptr;
    LookUpTable* GrowLut = nullptr;
    double MaximumSize = 2;
    LookUpTable* BlurLut = nullptr;
    double MaximumBlur = 50;
    int32_t RecordStartFrame = 0, RecordLastFrame = 100, LoadStartFrame = 0, LoadLastFrame = 100;
    double ImageStartFrame = 0, ImageLastFrame = 100;
    int32_t ShapeFrameCount = 101;
    PolyLine* PathPolyline = nullptr;
    PolyLine* BirthPolyline = nullptr;
    LookUpTable *RedLut = nullptr, *GreenLut = nullptr, *BlueLut = nullptr, *MorphLut = nullptr;
    LookUpTable* StrictDeviationLut = nullptr;
    float MaximumDeviation = 1.0f;
    Vec2d JitterVector;
    Vec2d Force, Displacement, FirstDisplacement, Reflected;  // scratch values of the free step
    std::vector<Vec2d> StepPulls;  // the attractors' pulls of a large step, per live particle
    // Composites the frame's particles; keeps its per-particle plans from frame
    // to frame (only Process, under RenderGate, uses it).
    Compositor Compositing;

    // --- simulation state and flags ---
    double BirthAccumulator = 0.0;
    int32_t LiveCount = 0, OldestIndex = 0, NextIndex = 0;
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

    // --- paths ---
    SegmentPath MotionPath, BirthPath;

    // --- shapes: the input's copies, the captured set and its working set ---
    ShapeLibrary Shapes;

    // --- randomness ---
    RandomSource Random;

    // Held by Process for the whole call, and by the interface-side actions that
    // free shapes or close files, so those never overlap a render.
    std::mutex RenderGate;

    // Runs worker passes (compositing, the parallel part of a step) on the
    // host's workers; ProcessChunk hands it the chunks of the pass under way.
    HostPassRunner Passes{*this, CurrentRequest};

    // --- the pool ---
    Particle Particles[PoolSize];

protected:
    ~ParticleOperator() override;
};

// The factory the registration record hands the host.
Operator* CreateParticleOperator(Registry* registry, CArchive* archive, TagList* tags);
