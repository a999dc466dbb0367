#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/fourcc.h"
#include "host/object.h"

// A value of an input: a number, point, text, look-up table, polyline or image.
class Parameter : public Object {
public:
    explicit Parameter(uint32_t type) : DataType(type) {}
    const uint32_t DataType;
};

class Number : public Parameter {
public:
    explicit Number(double v = 0.0) : Parameter(DT_Number), Value(v) {}
    double Value;
};

// A point in coordinates normalised to the image (0 to 1 on both axes).
class Point : public Parameter {
public:
    Point(double x = 0.0, double y = 0.0) : Parameter(DT_Point), X(x), Y(y) {}
    double X, Y;
};

class Text : public Parameter {
public:
    explicit Text(const char* s = "") : Parameter(DT_Text), Value(s ? s : "") {}
    explicit Text(std::string s) : Parameter(DT_Text), Value(std::move(s)) {}
    std::string Value;
};

// A curve tabulated as 16-bit entries. The host's default curve is the identity.
class LookUpTable : public Parameter {
public:
    static constexpr int DefaultCount = 1024;
    // The identity table of DefaultCount entries.
    LookUpTable();
    explicit LookUpTable(std::vector<uint16_t> entries);
    // Non-zero when the table maps every index to itself: entry i is the value of
    // the straight ramp from 0 to 65535 at i, rounded.
    int IsOneToOne() const;
    int32_t Count() const { return int32_t(Table.size()); }
    std::vector<uint16_t> Table;
};

// One point of a polyline, relative to the image centre, with its handles
// relative to the point.
struct PolyPoint {
    float X = 0.0f, Y = 0.0f;
    PolyPoint* Next = nullptr;
    double InDX = 0.0, InDY = 0.0;
    double OutDX = 0.0, OutDY = 0.0;
};

class PolyLine : public Parameter {
public:
    PolyLine() : Parameter(DT_PolyLine) {}
    // Builds the linked list from the points; handles default to 0.
    PolyLine(std::vector<PolyPoint> points, bool closed);
    int32_t GetCount(int32_t = 0) const { return int32_t(Points.size()); }
    PolyPoint* First(int32_t = 0) { return Points.empty() ? nullptr : &Points[0]; }
    const PolyPoint* First(int32_t = 0) const { return Points.empty() ? nullptr : &Points[0]; }
    bool Closed = false;

private:
    std::vector<PolyPoint> Points;
};
