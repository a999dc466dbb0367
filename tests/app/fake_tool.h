#pragma once
// A tiny stand-in tool built only from host classes: a few inputs of every value
// kind, and a change handler that records what reached it.
#include <map>
#include <string>
#include <vector>

#include "host/fourcc.h"
#include "host/operator.h"
#include "host/parameters.h"
#include "host/tags.h"

struct Notification {
    uint32_t Id;
    double Number;  // the parameter's value when it is a number, else -1
    double Time;
};

class FakeTool : public Operator {
public:
    FakeTool() : Operator(nullptr, nullptr, nullptr) {
        AddControlPage("Main");
        AddInput("Birthrate", DT_Number, FourCC("Nmbr"), {{Tags::RangeLow, 0.0}, {Tags::RangeHigh, 1000.0}});
        AddInput("Roll frames", DT_Number, FourCC("PrAm"),
                 {{Tags::RangeLow, 1.0}, {Tags::RangeHigh, 1000.0}, {Tags::Integer, 1}});
        AddInput("Enable Scale", DT_Number, FourCC("ScCk"), {{Tags::ButtonAttr, 1}, {Tags::CheckBoxAttr, 1}});
        AddInput("Start", DT_Point, 0x746E65C3u, {});
        AddInput("FastForward", DT_Number, FourCC("Prer"), {{Tags::ButtonAttr, 1}});
        AddControlPage("More");
        AddInput("Record now", DT_Text, FourCC("SvSy"), {{Tags::ButtonAttr, 1}});
        AddInput("", DT_Text, FourCC("536z"), {});
        AddInput("BirthSpline", DT_PolyLine, FourCC("BTSP"), {});
        AddInput("Merge Spline", DT_LookUpTable, FourCC("SpMg"), {{Tags::RangeLow, 0.0}, {Tags::RangeHigh, 255.0}});
        AddInput("", DT_Number, FourCC("Dmy1"), {});
        AddInput("Particle", DT_Image, 0x02706EC9u);
        AddInput("Image", DT_Image, 0x01706EC9u);
    }
    void NotifyChanged(Input* in, Parameter* value, double time) override {
        double v = -1;
        if (value && value->DataType == DT_Number) v = static_cast<Number*>(value)->Value;
        Log.push_back({in->ID, v, time});
        Operator::NotifyChanged(in, value, time);
    }
    int CountFor(uint32_t id) const {
        int n = 0;
        for (const auto& e : Log) n += e.Id == id;
        return n;
    }
    std::vector<Notification> Log;

    static std::map<uint32_t, std::string> Names() {
        return {{FourCC("Nmbr"), "InBirthrate"},  {FourCC("PrAm"), "InRollFrames"}, {FourCC("ScCk"), "InEnableScale"},
                {0x746E65C3u, "InStart"},          {FourCC("Prer"), "InFastForward"}, {FourCC("SvSy"), "InRecordNow"},
                {FourCC("536z"), "InSystemFile"},  {FourCC("BTSP"), "InBirthSpline"}, {FourCC("SpMg"), "InMergeSpline"},
                {0x02706EC9u, "InParticleImage"}, {0x01706EC9u, "InImage"}};
    }

protected:
    ~FakeTool() override = default;
};
