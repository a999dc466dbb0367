// The particle pool: birth of one particle, and the two ways particles leave the
// ring apart from dying of age (overflow and a full reset).
#include <algorithm>
#include <cmath>

#include "host/image.h"
#include "simulation/frame_settings.h"
#include "simulation/particle_system.h"
#include "simulation/random_source.h"

namespace {

// Scale factors of the birth draws. Three of them are single-precision values
// used in double-precision products; the others are doubles.
constexpr double InvHalfRange = double(float(1.0 / 16383.0));    // 6.103888154029846e-05
constexpr double InvRangePlus2 = double(float(1.0 / 32769.0));   // 3.0516646802425385e-05
constexpr double InvRangeSingle = double(float(1.0 / 32767.0));  // 3.0518509447574615e-05
constexpr double InvRange = 3.051850947599719e-05;               // 1 / 32767
constexpr double SpreadScale = 0.006666666666666667;             // 1 / 150
constexpr double SpeedVarianceScale = 6.666666666666667e-05;     // 1 / 15000
constexpr double DegreesToRadians = 0.017452006980802792;        // 1 / 57.3

static_assert(InvHalfRange == 6.103888154029846e-05);
static_assert(InvRangePlus2 == 3.0516646802425385e-05);
static_assert(InvRangeSingle == 3.0518509447574615e-05);

int32_t NextSlot(int32_t slot) { return slot + 1 == PoolSize ? 0 : slot + 1; }

}  // namespace

void ParticleSystem::Birth(const FrameSettings& f, BirthSwitches on, Image* shape, RandomSource& random) {
    Particle& p = Particles[NextIndex];
    // A free slot holds no image; one left behind (a slot filled by playback) is
    // not this particle's and is not released here.
    p.ShapeImage = nullptr;

    // Every birth takes exactly fourteen draws in this order, whatever the
    // switches say: the sequence of later particles depends on it.
    const int32_t r1 = random.Next();
    p.DeviationFactor = double(r1 - 16383) * InvHalfRange;
    const int32_t r2 = random.Next();
    p.PathAgeOffset = double(r2 + 1) * InvRangePlus2;

    if (on.UseBirthSpline) {
        const float t = float(double(r1) * InvRange);
        const Vec2d q = f.Birth.BirthPath.PointAt(t);
        p.Position = Vec2d((q.x + 0.5) * f.AspectX, (q.y + 0.5) * f.AspectY);
    } else {
        p.Position = f.Birth.EndPoint + (f.Birth.StartPoint - f.Birth.EndPoint) * (double(r1) * InvRange);
    }
    p.PreviousPosition = p.Position;

    const int32_t r3 = random.Next();
    const int32_t r4 = random.Next();
    const int32_t r5 = random.Next();
    const double spreadAngle = double(r3 + r4 + r5 - 49151) * SpreadScale * f.Birth.Spread;
    const int32_t r6 = random.Next();
    const int32_t r7 = random.Next();
    const int32_t r8 = random.Next();
    const double speedVariation = double(r6 + r7 + r8 - 49151) * SpeedVarianceScale * f.Birth.SpeedVariance;

    const double direction = (spreadAngle + f.Birth.Orientation) * DegreesToRadians;
    const double launchSpeed = speedVariation * f.Birth.Speed + f.Birth.Speed;
    p.Velocity = Vec2d(std::cos(direction) * launchSpeed, -(std::sin(direction) * launchSpeed));

    // Spreads the particles born in one frame over the frame's time step; the
    // previous position keeps the birth point.
    const int32_t r9 = random.Next();
    p.Position += p.Velocity * (double(r9) * InvRange * f.SimStep);

    p.Age = 0.0;
    const int32_t r10 = random.Next();
    p.PathSpeedFactor = double(r10) * InvRangeSingle;
    p.Angle = f.Birth.StartingAngle;
    const int32_t r11 = random.Next();
    p.RotationSpeed = double(r11 - 16383) * 0.005 * f.Birth.RotationVariance + f.Birth.RotationSpeed;

    const int32_t r12 = random.Next();
    const int32_t r13 = random.Next();
    const int32_t r14 = random.Next();
    double randomSize = double(r12 + r13 + r14 - 49151) * 2.5e-05 * f.Birth.SizeVariance + f.Birth.GeneralSize;
    if (randomSize < 0.1) randomSize = 0.1;

    // Without a shape copy (no shape taken yet) the particle simply has no image.
    p.ShapeImage = shape ? shape->CopyOfImage() : nullptr;
    p.Size = on.Scale ? randomSize : 1.0;

    NextIndex = NextSlot(NextIndex);
    LiveCount += 1;
    // A full ring retires its oldest particle at once: at most 19999 are live.
    if (NextIndex == OldestIndex) RetireOldest();
}

void ParticleSystem::RetireOldest() {
    if (LiveCount <= 0) return;
    Particle& p = Particles[OldestIndex];
    if (p.ShapeImage) {
        p.ShapeImage->Recycle();
        p.ShapeImage = nullptr;
    }
    OldestIndex = NextSlot(OldestIndex);
    LiveCount -= 1;
}

void ParticleSystem::Clear(bool particlesOwnImages) {
    while (OldestIndex != NextIndex) {
        Particle& p = Particles[OldestIndex];
        if (particlesOwnImages && p.ShapeImage) p.ShapeImage->Recycle();
        p.ShapeImage = nullptr;
        OldestIndex = NextSlot(OldestIndex);
        LiveCount -= 1;
    }
    LiveCount = 0;
    BirthAccumulator = 0.0;
    FlowTime = 0.0;
}

void ParticleSystem::KeepBefore(double simStep) {
    Before.resize(std::size_t(PoolSize));
    const int32_t live = std::clamp(LiveCount, 0, int32_t(PoolSize));
    for (int32_t i = 0, slot = OldestIndex; i < live; ++i, slot = NextSlot(slot)) {
        const Particle& p = Particles[slot];
        Before[std::size_t(slot)] = ParticleBefore{p.Position, p.Angle, p.Age - simStep, p.Size};
    }
}
