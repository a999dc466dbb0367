#include "simulation/polynomial.h"

Polynomial::Polynomial(int32_t degree) : Degree(degree) {}

void Polynomial::SetCoefficients(const float* c) {
    for (int32_t i = 0; i <= Degree && i < 10; ++i) Coefficients[i] = c[i];
}

double Polynomial::Evaluate(float t) const {
    double sum = 0.0;
    double p = 1.0;
    for (int32_t i = 0; i <= Degree && i < 10; ++i) {
        sum = sum + p * double(Coefficients[i]);
        p = p * double(t);
    }
    return sum;
}

void Polynomial::Derive() {
    if (Degree < 1) {
        // A constant becomes the zero polynomial; the zero polynomial stays zero
        // (any negative degree is zero).
        if (Degree > INT32_MIN) Degree -= 1;
        return;
    }
    // The old top coefficient keeps its stale value beyond the new degree.
    for (int32_t i = 1; i <= Degree && i < 10; ++i) Coefficients[i - 1] = float(double(i) * double(Coefficients[i]));
    Degree -= 1;
}
