#include "host/parameters.h"

#include <stdexcept>

namespace {

// The straight ramp from 0 to 65535 over count entries, rounded half up.
uint16_t RampEntry(size_t i, size_t count) {
    const uint64_t span = count - 1;
    return uint16_t((uint64_t(i) * 65535u * 2u + span) / (2u * span));
}

// The identity ramp, made once: every unconnected curve input hands out a fresh
// default table each frame.
const std::vector<uint16_t>& DefaultRamp() {
    static const std::vector<uint16_t> ramp = [] {
        std::vector<uint16_t> entries(LookUpTable::DefaultCount);
        for (size_t i = 0; i < entries.size(); ++i) entries[i] = RampEntry(i, entries.size());
        return entries;
    }();
    return ramp;
}

}  // namespace

LookUpTable::LookUpTable() : Parameter(DT_LookUpTable), Table(DefaultRamp()) {}

LookUpTable::LookUpTable(std::vector<uint16_t> entries) : Parameter(DT_LookUpTable), Table(std::move(entries)) {
    // Readers index the table by (count - 1) * t; an empty table has no valid index.
    if (Table.empty()) throw std::invalid_argument("a look-up table needs at least one entry");
}

int LookUpTable::IsOneToOne() const {
    // A single entry is a constant, not a ramp.
    if (Table.size() < 2) return 0;
    for (size_t i = 0; i < Table.size(); ++i)
        if (Table[i] != RampEntry(i, Table.size())) return 0;
    return 1;
}

PolyLine::PolyLine(std::vector<PolyPoint> points, bool closed)
    : Parameter(DT_PolyLine), Closed(closed), Points(std::move(points)) {
    // Link only now that the points sit in their final storage. The list ends at
    // the last point also for a closed line; readers close it through First.
    for (size_t i = 0; i < Points.size(); ++i) Points[i].Next = i + 1 < Points.size() ? &Points[i + 1] : nullptr;
}
