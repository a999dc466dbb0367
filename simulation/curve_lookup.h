#pragma once
// Reading a curve (a host look-up table of 16-bit entries) at a ratio t in 0..1.
#include <cstddef>
#include <cstdint>

#include "host/parameters.h"

// The entry at trunc((count - 1) * t), the index kept inside the table (t can
// pass 1, and is 0 or below at the start). The table has at least one entry.
inline uint32_t CurveEntry(const LookUpTable& lut, double t) {
    const int32_t count = lut.Count();
    const double x = double(count - 1) * t;
    int32_t index = 0;
    if (x >= double(count - 1))
        index = count - 1;
    else if (x >= 0.0)
        index = int32_t(x);
    return lut.Table[std::size_t(index)];
}

// A value cut toward zero to a 16-bit word, 0 for no number.
inline uint32_t Limit16(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return uint32_t(v);
}

// A curve read at a particle's age ratio.
struct Curve {
    const LookUpTable* Lut = nullptr;
    bool Identity = true;

    void Set(const LookUpTable* lut) {
        Lut = lut;
        Identity = !lut || lut->Count() == 0 || lut->IsOneToOne();
    }
    uint32_t Entry(double t) const { return CurveEntry(*Lut, t); }
    // The identity gives trunc(t * 65535), limited to 0..65535; any other table
    // its entry.
    uint32_t Value(double t) const {
        if (!Identity) return Entry(t);
        return Limit16(t * 65535.0);
    }
};
