// The path-bound step: each particle runs along the motion path once over its
// lifetime, as an offset from its own starting point or, in strict mode, on the
// path itself with a sideways deviation shaped by a curve. No draws are taken.
#include "host/parameters.h"
#include "simulation/curve_lookup.h"
#include "simulation/particle.h"
#include "simulation/segment_path.h"
#include "simulation/step_settings.h"

namespace {

constexpr double DeviationScale = double(1e-05f);  // 9.999999747378752e-06

// The strict-mode deviation of a particle at path parameter t, as a float.
float DeviationAt(const StepSettings& s, const Particle& p, float t) {
    if (!s.Deviation) return 0.0f;
    if (s.DeviationIsIdentity)
        return float(double(s.MaximumDeviation) * p.DeviationFactor * double(t) * 65535.0);
    if (s.Deviation->Count() < 1) return 0.0f;
    const double entry = double(CurveEntry(*s.Deviation, double(t)));
    return float(entry * double(s.MaximumDeviation) * p.DeviationFactor);
}

bool IsZero(const Vec2d& v) { return v.x == 0.0 && v.y == 0.0; }

}  // namespace

void PathBoundStepWith(const StepSettings& s, Particle& p) {
    const SegmentPath& path = *s.Path;

    double a = p.Age + p.PathAgeOffset;
    if (a > s.Lifetime) a = s.Lifetime;
    const double sv = double(s.PathSpeedVariance);
    const double share = sv * p.PathSpeedFactor + (1 - sv);
    // With a lifetime of 0 every particle counts as at the end of its run.
    const double ratio = s.Lifetime == 0.0 ? 1.0 : a / s.Lifetime;
    const float t = float(share * ratio);
    const Vec2d point = path.PointAt(t);

    if (!s.Strict) {
        if (s.PathPointCount >= 1) {
            const Vec2d origin = path.PointAt(0.0f);
            p.Position = p.PreviousPosition +
                         Vec2d((point.x - origin.x) * s.AspectX, (point.y - origin.y) * s.AspectY);
        }
    } else {
        Vec2d normal = path.TangentAt(t);
        normal.Perpendicular();
        const float value = DeviationAt(s, p, t);
        // A tangent of zero length has no sideways direction: the deviation is left out.
        Vec2d q = point;
        if (!IsZero(normal)) {
            normal.Normalize();
            q = point + normal * (double(value) * DeviationScale);
        }
        p.Position = Vec2d((q.x + 0.5) * s.AspectX, (q.y + 0.5) * s.AspectY);
    }

    const Vec2d tangent = path.TangentAt(t);
    if (s.Banking) {
        if (!IsZero(tangent)) p.Angle = DirectionAngle(tangent) + s.StartingAngle;
    } else {
        p.Angle += p.RotationSpeed * s.SimStep;
    }
}
