#pragma once
#include <cstdint>

// A power-series polynomial with single-precision coefficients (degree at most 9;
// a negative degree is the zero polynomial).
class Polynomial {
public:
    explicit Polynomial(int32_t degree = -1);
    void SetDegree(int32_t n) { Degree = n; }
    int32_t GetDegree() const { return Degree; }
    // Copies Degree + 1 floats into coefficients 0..Degree.
    void SetCoefficients(const float* c);
    float Coefficient(int i) const { return Coefficients[i]; }
    // Sum of coefficient[i] * t^i in double precision on the float values.
    double Evaluate(float t) const;
    // Replaces the polynomial by its derivative.
    void Derive();

private:
    int32_t Degree;
    float Coefficients[10] = {};
};
