// Ageing and the free step of the particles: attractors, jitter, gravity, the two
// bounce lines, wind and turbulence, rotation and banking.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "host/parameters.h"
#include "simulation/frame_settings.h"
#include "simulation/particle_system.h"
#include "simulation/random_source.h"
#include "simulation/step_settings.h"
#include "simulation/worker_pass.h"

namespace {

constexpr double JitterAngleScale = 0.00019174760492860372;  // 2 pi / 32768 to eight digits

// The jitter's direction is a draw of 0..32767 turned into an angle: its sine
// and cosine are taken from tables made once with the same functions, so every
// step gets the very values it would compute, without two calls per particle.
struct JitterTables {
    double Sin[32768], Cos[32768];
    JitterTables() {
        // Two loops, so that the compiler does not fold the two calls into one
        // sincos: the tables hold what sin and cos give.
        for (int32_t r = 0; r < 32768; ++r) Sin[r] = std::sin(double(r) * JitterAngleScale);
        for (int32_t r = 0; r < 32768; ++r) Cos[r] = std::cos(double(r) * JitterAngleScale);
    }
};

const JitterTables& Jitter() {
    static const JitterTables tables;
    return tables;
}

// Where the move from P by M meets the line from S to Q: u is the fraction of the
// move, w the place along the line (0 at S, 1 at Q). All comparisons are strict,
// so a move starting or ending on the line, or meeting it at an end point, is no
// hit; a parallel or zero move gives no finite u and is no hit either.
// The line's slope term m = -(Q.x - S.x) / (Q.y - S.y) is the same for every
// particle of a step and taken from the settings; w is only worked out for a
// move that reaches the line.
bool HitsLine(const StepSettings::Line& line, const Vec2d& P, const Vec2d& M, double* u) {
    const Vec2d& S = line.Start;
    const Vec2d& Q = line.End;
    const double m = line.Slope;
    const double a = S.x + (S.y - P.y) * m - P.x;
    const double b = m * M.y + M.x;
    // u = a / b lies in (0, 1) only when a and b have the same sign and |a| < |b|
    // (a quotient of 1 or more never rounds below 1, a negative one never above
    // 0). Most moves fail this already, and the branch then does not wait on
    // the division.
    if (!(std::fabs(a) < std::fabs(b) && (a > 0.0) == (b > 0.0))) return false;
    const double uu = a / b;
    *u = uu;
    if (!(0.0 < uu && uu < 1.0)) return false;
    const double w = (P.x + uu * M.x - S.x) / (Q.x - S.x);
    return 0.0 < w && w < 1.0;
}

// The bounce off a line that was hit at fraction u of the move M: three draws for
// the rough normal, then the mirrored and damped displacement. Returns the new
// displacement of the step and sets the particle's velocity.
Vec2d Bounce(const StepSettings::Line& line, const StepSettings& s, RandomSource& random, Particle& p,
             const Vec2d& M, double u) {
    const Vec2d& N = line.Normal;
    const int32_t r1 = random.Next();
    const int32_t r2 = random.Next();
    const int32_t r3 = random.Next();
    const double rough = double(r1 + r2 + r3 - 49151) * 2e-05 * line.Roughness;
    Vec2d along = N;
    along.Perpendicular();
    Vec2d R = N + along * rough;
    R.Normalize();

    Vec2d Mn = M;
    Mn.Negate();
    double d = ScalarProduct(Mn, R);
    const double dn = ScalarProduct(Mn, N);
    // The rough normal may not turn the particle to the other side of approach.
    if ((d < 0 && dn > 0) || (d > 0 && dn < 0)) {
        R = N;
        d = dn;
    }
    const bool side = d < 0;

    Vec2d F = R * (2 * d) - Mn;
    F = F * line.Elasticity;
    // A reflection that still points through the line is mirrored across the true line.
    const double c = ScalarProduct(F, N);
    if ((c < 0 && !side) || (c >= 0 && side)) F = F - N * (2 * c);

    p.Velocity = F / s.SimStep;
    return M * u + F * (1 - u);
}

}  // namespace

StepSettings StepSettings::Take(const FrameSettings& f, const StepSwitches& on, uint32_t flowSeed) {
    StepSettings s;
    s.Wind = f.Motion.Wind;
    s.Turbulence = f.Motion.Turbulence;
    s.TurbulenceScale = f.Motion.TurbulenceScale;
    s.TurbulenceSpeed = f.Motion.TurbulenceSpeed;
    s.Drifting = s.Turbulence != 0.0 || s.Wind.x != 0.0 || s.Wind.y != 0.0;
    s.Flow = FlowField(flowSeed);
    for (int k = 0; k < 2; ++k) {
        s.AttractorOn[k] = on.Attractor[k];
        s.AttractorPosition[k] = f.Attractors[k].Position;
        s.AttractorStrength[k] = f.Attractors[k].Strength;
        const FrameSettings::BounceLine& b = f.BounceLines[k];
        s.Lines[k].Enabled = on.BounceLine[k];
        s.Lines[k].Start = b.Start;
        s.Lines[k].End = b.End;
        s.Lines[k].Slope = -(b.End.x - b.Start.x) / (b.End.y - b.Start.y);
        s.Lines[k].Normal = b.Normal;
        s.Lines[k].Elasticity = b.Elasticity;
        s.Lines[k].Roughness = b.Roughness;
    }
    s.Tumble = f.Tumble;
    s.GravityStep = f.GravityVector / 100.0;
    s.SimStep = f.SimStep;
    s.Banking = on.Banking;
    s.StartingAngle = f.Birth.StartingAngle;

    s.PathBinding = on.PathBinding;
    s.Strict = on.Strict;
    s.PathPointCount = f.PathPolyline ? f.PathPolyline->GetCount(0) : 0;
    s.Lifetime = f.Lifetime;
    s.PathSpeedVariance = f.PathSpeedVariance;
    s.Deviation = f.StrictDeviationLut;
    s.DeviationIsIdentity = f.StrictDeviationLut && f.StrictDeviationLut->IsOneToOne() != 0;
    s.MaximumDeviation = f.MaximumDeviation;
    s.AspectX = f.AspectX;
    s.AspectY = f.AspectY;
    s.Path = &f.MotionPath;
    return s;
}

namespace {

// The pull of the attractors at P (zero when none is on).
Vec2d AttractorForce(const StepSettings& s, const Vec2d& P) {
    Vec2d F;
    for (int k = 0; k < 2; ++k) {
        if (!s.AttractorOn[k]) continue;
        // A particle exactly at (or too close to tell from) the attractor point has
        // no direction to it; that attractor then leaves it alone for this step.
        const Vec2d pull = Inverse(s.AttractorPosition[k] - P);
        if (std::isfinite(pull.x) && std::isfinite(pull.y)) F += pull * s.AttractorStrength[k];
    }
    return F;
}

// The drift at P at the turbulence's time t: wind plus the flow.
Vec2d Drift(const StepSettings& s, const Vec2d& P, double t) {
    if (s.Turbulence == 0.0) return s.Wind;
    return s.Wind + s.Flow.Velocity(P, t, s.TurbulenceScale) * s.Turbulence;
}

// The move of the free step, given the attractors' pull F and the drift (null
// when off): jitter, gravity, the two bounce lines. The random draws are all here.
void MoveParticle(const StepSettings& s, RandomSource& random, Particle& p, Vec2d F, const Vec2d* drift) {
    const Vec2d P = p.Position;

    // Jitter: six draws, taken even when Tumble is 0.
    const int32_t r1 = random.Next();
    const int32_t r2 = random.Next();
    const int32_t r3 = random.Next();
    const int32_t r4 = random.Next();
    const double amplitude = double(r1 + r2 + r3 + r4 - 65535) * 1e-06 * s.Tumble;
    const JitterTables& jitter = Jitter();
    const int32_t r5 = random.Next();
    const double jx = jitter.Sin[r5] * amplitude;
    const int32_t r6 = random.Next();
    const double jy = jitter.Cos[r6] * amplitude;
    F += Vec2d(jx, jy);

    p.Velocity += (F + s.GravityStep) * s.SimStep;
    // The drift carries the particle without becoming its own velocity.
    Vec2d D = drift ? (p.Velocity + *drift) * s.SimStep : p.Velocity * s.SimStep;
    const Vec2d E = D;

    // Both lines test the move as first computed; when both are hit, the second
    // line's bounce is the one that stands.
    bool bounced = false;
    for (int k = 0; k < 2; ++k) {
        if (!s.Lines[k].Enabled) continue;
        double u = 0.0;
        if (HitsLine(s.Lines[k], P, E, &u)) {
            D = Bounce(s.Lines[k], s, random, p, E, u);
            bounced = true;
        }
    }
    // A bounce reflects the whole move; the particle's own velocity is what
    // remains of it without the drift (so against a wall of elasticity 0 a
    // particle in the wind rests there instead of being pushed through).
    if (bounced && drift) p.Velocity = p.Velocity - *drift;

    p.Position += D;
}

// The end of the free step: the particle turns, along its move when banking.
void TurnParticle(const StepSettings& s, Particle& p) {
    if (s.Banking) {
        if (Differs(p.Position, p.PreviousPosition))
            p.Angle = DirectionAngle(p.Position - p.PreviousPosition) + s.StartingAngle;
    } else {
        p.Angle += p.RotationSpeed * s.SimStep;
    }
    p.PreviousPosition = p.Position;
}

// Pools this large step on the host's workers in chunks, with three kinds of
// work per chunk: the attractors' pulls, the moves with their random draws,
// and the turns. The moves run one chunk after the other in pool order (the
// draws follow the pool), each after its chunk's pulls; a chunk turns after
// its move. Every worker takes whatever is ready, so while one moves, another
// pulls ahead and turns behind. Each particle's values are those of the
// particle-by-particle step, whoever computes them.
constexpr int32_t ParallelStepMinimum = 4096;
constexpr int32_t StepChunk = 512;

struct StepPass final : WorkerPass {
    ParticleSystem* Pool = nullptr;
    RandomSource* Random = nullptr;
    const StepSettings* S = nullptr;
    Vec2d* Pulls = nullptr;   // null when no attractor is on
    Vec2d* Drifts = nullptr;  // null without turbulence (wind alone is the same for all)
    double FlowTime = 0.0;
    int32_t Live = 0;
    long Chunks = 0;
    std::unique_ptr<std::atomic<bool>[]> Pulled;  // per chunk: its pulls are done
    std::atomic<long> NextPull{0}, NextTurn{0}, Turned{0};
    std::atomic<long> Moved{0};  // chunks moved
    std::atomic<bool> Moving{false};  // held by the worker that moves

    void Pull(long c) {
        const int32_t end = std::min(int32_t(c + 1) * StepChunk, Live);
        for (int32_t i = int32_t(c) * StepChunk; i < end; ++i) {
            const Vec2d& P = Pool->Live(i).Position;
            if (Pulls) Pulls[i] = AttractorForce(*S, P);
            if (Drifts) Drifts[i] = Drift(*S, P, FlowTime);
        }
        Pulled[std::size_t(c)].store(true, std::memory_order_release);
    }
    void Move(long c) {
        const int32_t end = std::min(int32_t(c + 1) * StepChunk, Live);
        for (int32_t i = int32_t(c) * StepChunk; i < end; ++i)
            MoveParticle(*S, *Random, Pool->Live(i), Pulls ? Pulls[i] : Vec2d(),
                         Drifts ? &Drifts[i] : S->Drifting ? &S->Wind : nullptr);
    }
    void Turn(long c) {
        const int32_t end = std::min(int32_t(c + 1) * StepChunk, Live);
        for (int32_t i = int32_t(c) * StepChunk; i < end; ++i) TurnParticle(*S, Pool->Live(i));
    }
    // Claims the next chunk of a kind when it is below limit.
    static bool Claim(std::atomic<long>& next, long limit, long* c) {
        long n = next.load(std::memory_order_relaxed);
        while (n < limit)
            if (next.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) {
                *c = n;
                return true;
            }
        return false;
    }

    void Run(long) override {
        for (;;) {
            long c = 0;
            if (Moved.load(std::memory_order_acquire) < Chunks && !Moving.exchange(true, std::memory_order_acquire)) {
                // The moves, as far as the pulls are done (or this worker does them).
                for (c = Moved.load(std::memory_order_relaxed); c < Chunks; Moved.store(++c, std::memory_order_release)) {
                    if (!Pulled[std::size_t(c)].load(std::memory_order_acquire)) {
                        // Not pulled yet: this worker pulls it, unless another is at it.
                        long n = c;
                        if (!NextPull.compare_exchange_strong(n, c + 1, std::memory_order_relaxed)) break;
                        Pull(c);
                    }
                    Move(c);
                }
                Moving.store(false, std::memory_order_release);
                continue;
            }
            if (Claim(NextPull, Chunks, &c)) {
                Pull(c);
                continue;
            }
            if (Claim(NextTurn, Moved.load(std::memory_order_acquire), &c)) {
                Turn(c);
                Turned.fetch_add(1, std::memory_order_release);
                continue;
            }
            if (Turned.load(std::memory_order_acquire) >= Chunks) return;
            std::this_thread::yield();
        }
    }
};

}  // namespace

void FreeStepWith(const StepSettings& s, RandomSource& random, Particle& p, double flowTime) {
    const Vec2d drift = s.Drifting ? Drift(s, p.Position, flowTime) : Vec2d();
    MoveParticle(s, random, p, AttractorForce(s, p.Position), s.Drifting ? &drift : nullptr);
    TurnParticle(s, p);
}

int32_t ParticleSystem::Age(double simStep, double lifetime) {
    for (int32_t i = 0; i < LiveCount; ++i) Live(i).Age += simStep;

    // Every particle ages at the same rate and births follow the ring order, so
    // the expired ones are all at the old end.
    int32_t retired = 0;
    while (OldestIndex != NextIndex && std::trunc(Particles[OldestIndex].Age) >= lifetime) {
        RetireOldest();
        retired += 1;
    }
    return retired;
}

void ParticleSystem::Step(const StepSettings& s, RandomSource& random, PassRunner& runner) {
    const int32_t live = std::clamp(LiveCount, 0, int32_t(PoolSize));
    // The turbulence is sampled at the time the step starts from.
    const double flowTime = FlowTime;
    FlowTime += s.TurbulenceSpeed * s.SimStep;
    if (s.PathBinding || live < ParallelStepMinimum) {
        for (int32_t i = 0, slot = OldestIndex; i < live; ++i, slot = slot + 1 == PoolSize ? 0 : slot + 1) {
            Particle& p = Particles[slot];
            if (s.PathBinding) {
                PathBoundStepWith(s, p);
            } else {
                FreeStepWith(s, random, p, flowTime);
            }
        }
        return;
    }
    // The same step on the workers; each particle's values are the same as above.
    StepPass pass;
    pass.Pool = this;
    pass.Random = &random;
    pass.S = &s;
    pass.Live = live;
    pass.Chunks = (live + StepChunk - 1) / StepChunk;
    pass.Pulled = std::make_unique<std::atomic<bool>[]>(std::size_t(pass.Chunks));
    pass.FlowTime = flowTime;
    const bool pulled = s.AttractorOn[0] || s.AttractorOn[1];
    if (pulled) {
        StepPulls.resize(std::size_t(live));
        pass.Pulls = StepPulls.data();
    }
    const bool turbulent = s.Turbulence != 0.0;
    if (turbulent) {
        StepDrifts.resize(std::size_t(live));
        pass.Drifts = StepDrifts.data();
    }
    if (!pulled && !turbulent) {
        for (long c = 0; c < pass.Chunks; ++c) pass.Pulled[std::size_t(c)].store(true, std::memory_order_relaxed);
        pass.NextPull.store(pass.Chunks, std::memory_order_relaxed);
    }
    runner.RunPass(pass, 2);
}
