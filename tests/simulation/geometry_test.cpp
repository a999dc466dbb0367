// Vectors and polynomials: the exact values the simulation's numbers depend on.
#include <gtest/gtest.h>

#include <cmath>

#include "simulation/polynomial.h"
#include "simulation/vec2d.h"

TEST(DirectionAngle, GivesTheToolsOwnValuesOnTheAxesAndDiagonals) {
    EXPECT_EQ(DirectionAngle({0, 1}), -90.0);
    EXPECT_EQ(DirectionAngle({0, -1}), 90.0);
    EXPECT_EQ(DirectionAngle({1, 0}), -2.0549663304336718e-08);
    EXPECT_EQ(DirectionAngle({-1, 0}), -179.99999997945034);
    EXPECT_EQ(DirectionAngle({1, 1}), -45.00000001027484);
    EXPECT_EQ(DirectionAngle({1, -1}), 45.000000010274846);
}

TEST(DirectionAngle, DoesNotDependOnLength) {
    EXPECT_EQ(DirectionAngle({0, -2}), 90.0);
    EXPECT_EQ(DirectionAngle({-3, 0}), -179.99999997945034);
    // Lengths whose square would underflow or overflow still have their direction.
    EXPECT_EQ(DirectionAngle({0x1p-600, 0x1p-600}), -45.00000001027484);
    EXPECT_EQ(DirectionAngle({-0x1p600, 0}), -179.99999997945034);
    EXPECT_DOUBLE_EQ(DirectionAngle({3e-200, -4e-200}), DirectionAngle({3, -4}));
    EXPECT_DOUBLE_EQ(DirectionAngle({3e200, -4e200}), DirectionAngle({3, -4}));
}

TEST(Vec2d, InverseHasTheSameDirectionAndReciprocalLength) {
    const Vec2d a = Inverse({3, 4});
    EXPECT_DOUBLE_EQ(a.x, 0.12);
    EXPECT_DOUBLE_EQ(a.y, 0.16);
    const Vec2d b = Inverse({2, 0});
    EXPECT_EQ(b.x, 0.5);
    EXPECT_EQ(b.y, 0.0);
}

TEST(Vec2d, PerpendicularTurnsCounterClockwiseInItsOwnAxes) {
    Vec2d a{1, 0};
    a.Perpendicular();
    EXPECT_EQ(a.x, 0.0);
    EXPECT_EQ(a.y, 1.0);
    Vec2d b{0, 1};
    b.Perpendicular();
    EXPECT_EQ(b.x, -1.0);
    EXPECT_EQ(b.y, 0.0);
}

TEST(Vec2d, DiffersComparesBothComponents) {
    EXPECT_TRUE(Differs({1, 2}, {1, 3}));
    EXPECT_TRUE(Differs({0, 2}, {1, 2}));
    EXPECT_FALSE(Differs({1, 2}, {1, 2}));
}

TEST(Vec2d, NormalizeGivesUnitLengthEvenForTinyVectors) {
    Vec2d a{3, 4};
    a.Normalize();
    EXPECT_DOUBLE_EQ(a.x, 0.6);
    EXPECT_DOUBLE_EQ(a.y, 0.8);
    Vec2d tiny{3e-200, 4e-200};
    tiny.Normalize();
    EXPECT_DOUBLE_EQ(tiny.x, 0.6);
    EXPECT_DOUBLE_EQ(tiny.y, 0.8);
    Vec2d zero;
    zero.Normalize();  // no direction: left alone rather than turned into NaN
    EXPECT_EQ(zero.x, 0.0);
    EXPECT_EQ(zero.y, 0.0);
}

TEST(Polynomial, EvaluatesInDoubleOnFloatCoefficients) {
    const float c[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    Polynomial p(3);
    p.SetCoefficients(c);
    EXPECT_EQ(p.Evaluate(0.0f), double(0.1f));
    EXPECT_EQ(p.Evaluate(1.0f), double(0.1f) + double(0.2f) + double(0.3f) + double(0.4f));
    const double t = double(0.3f);
    EXPECT_EQ(p.Evaluate(0.3f), double(0.1f) + t * double(0.2f) + t * t * double(0.3f) + t * t * t * double(0.4f));
    EXPECT_EQ(Polynomial(-1).Evaluate(0.5f), 0.0);
}

TEST(Polynomial, DeriveLowersTheDegreeAndScalesTheCoefficients) {
    const float c[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    Polynomial p(3);
    p.SetCoefficients(c);
    p.Derive();
    EXPECT_EQ(p.GetDegree(), 2);
    EXPECT_EQ(p.Coefficient(0), 0.2f);
    EXPECT_EQ(p.Coefficient(1), float(2 * double(0.3f)));
    EXPECT_EQ(p.Coefficient(2), float(3 * double(0.4f)));

    const float k[1] = {5.0f};
    Polynomial constant(0);
    constant.SetCoefficients(k);
    constant.Derive();
    EXPECT_EQ(constant.GetDegree(), -1);
    EXPECT_EQ(constant.Evaluate(0.0f), 0.0);
    EXPECT_EQ(constant.Evaluate(0.7f), 0.0);
    constant.Derive();
    EXPECT_LT(constant.GetDegree(), 0);
    EXPECT_EQ(constant.Evaluate(0.7f), 0.0);
}
