// Vectors and polynomials: the exact values the simulation's numbers depend on.
#include "sim_fixture.h"
#include "simulation/polynomial.h"

TEST(DirectionAngle, GivesTheToolsOwnValuesAtAnyLength) {
    const std::pair<Vec2d, double> rows[] = {
        {{0, 1}, -90.0}, {{0, -1}, 90.0}, {{0, -2}, 90.0}, {{1, 0}, -2.0549663304336718e-08},
        {{-1, 0}, -179.99999997945034}, {{-3, 0}, -179.99999997945034}, {{1, 1}, -45.00000001027484},
        {{1, -1}, 45.000000010274846},
        // Lengths whose square would underflow or overflow still have their direction.
        {{0x1p-600, 0x1p-600}, -45.00000001027484}, {{-0x1p600, 0}, -179.99999997945034}};
    for (const auto& [v, angle] : rows) EXPECT_EQ(DirectionAngle(v), angle) << v.x << "," << v.y;
    EXPECT_DOUBLE_EQ(DirectionAngle({3e-200, -4e-200}), DirectionAngle({3, -4}));
    EXPECT_DOUBLE_EQ(DirectionAngle({3e200, -4e200}), DirectionAngle({3, -4}));
}

TEST(Vec2d, InversePerpendicularDiffersAndNormalize) {
    const Vec2d a = Inverse({3, 4}), b = Inverse({2, 0});
    EXPECT_DOUBLE_EQ(a.x, 0.12);
    EXPECT_DOUBLE_EQ(a.y, 0.16);
    ExpectVec(b, 0.5, 0.0);
    Vec2d p{1, 2};
    p.Perpendicular();  // counter-clockwise in its own axes
    ExpectVec(p, -2.0, 1.0);
    EXPECT_TRUE(Differs({1, 2}, {1, 3}) && Differs({0, 2}, {1, 2}) && !Differs({1, 2}, {1, 2}));
    for (Vec2d n : {Vec2d{3, 4}, Vec2d{3e-200, 4e-200}}) {
        n.Normalize();
        EXPECT_DOUBLE_EQ(n.x, 0.6);
        EXPECT_DOUBLE_EQ(n.y, 0.8);
    }
    Vec2d zero;
    zero.Normalize();  // no direction: left alone rather than turned into NaN
    ExpectVec(zero, 0.0, 0.0);
}

TEST(Polynomial, EvaluatesInDoubleAndDeriveScalesTheCoefficients) {
    const float c[4] = {0.1f, 0.2f, 0.3f, 0.4f}, k[1] = {5.0f};
    Polynomial p(3), constant(0);
    p.SetCoefficients(c);
    const double t = double(0.3f);
    EXPECT_EQ(p.Evaluate(0.3f), double(0.1f) + t * double(0.2f) + t * t * double(0.3f) + t * t * t * double(0.4f));
    p.Derive();
    EXPECT_EQ(p.GetDegree(), 2);
    ExpectPairs({{p.Coefficient(0), 0.2f}, {p.Coefficient(1), float(2 * double(0.3f))},
                 {p.Coefficient(2), float(3 * double(0.4f))}});
    // A constant derives to nothing, which evaluates to 0, and stays so.
    constant.SetCoefficients(k);
    for (int i = 0; i < 2; ++i) {
        constant.Derive();
        EXPECT_LT(constant.GetDegree(), 0);
        EXPECT_EQ(constant.Evaluate(0.7f), 0.0);
    }
}
