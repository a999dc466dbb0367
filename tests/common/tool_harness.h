#pragma once
// A small host for unit tests of the tool: builds a ParticleOperator through its
// factory inside a flow, sets control values the way a user's edit would (value,
// then change notification), and runs frame requests with given images.
#include <memory>
#include <vector>

#include "host/flow.h"
#include "host/image.h"
#include "host/operator.h"
#include "host/platform.h"
#include "host/registry.h"
#include "operator/particle_operator.h"

class ToolHarness {
public:
    // A tool in a flow over frames first..last, a background of bgW x bgH filled
    // with bgColor and a shape of shapeW x shapeH filled with shapeColor.
    explicit ToolHarness(int32_t bgW = 64, int32_t bgH = 48, int32_t shapeW = 4, int32_t shapeH = 4,
                         uint32_t seed = 1, double first = 0, double last = 100)
        : Reg(&ClassRegistry, "ToolHarness", {}), TheFlow(first, last) {
        TagList tags{{Tags::RandomSeed, int32_t(seed)}};
        Op = static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, nullptr, &tags));
        TheFlow.AddTool(Op);  // takes the reference, runs OnAddToFlow
        Background = new Image(bgW, bgH);
        Background->Fill(HostPixel{0, 0, 0, 65535});
        Shape = new Image(shapeW, shapeH);
        Shape->Fill(HostPixel{65535, 65535, 65535, 65535});
        SetImages(Background, Shape);
        TheFlow.PrepareFrame = [](Operator*, double) { return true; };
        TheFlow.FrameDone = [this](Operator*, double, Image* img) {
            if (Last) Last->Recycle();
            Last = img;
        };
    }
    ~ToolHarness() {
        if (Last) Last->Recycle();
        Background->Recycle();
        Shape->Recycle();
    }
    ToolHarness(const ToolHarness&) = delete;
    ToolHarness& operator=(const ToolHarness&) = delete;

    // Replaces the image inputs' values (the harness keeps its own references).
    void SetImages(Image* background, Image* shape) {
        if (background != Background) {
            background->AddRef();
            Background->Recycle();
            Background = background;
        }
        if (shape != Shape) {
            shape->AddRef();
            Shape->Recycle();
            Shape = shape;
        }
        Op->ControlInput("Image")->SetValue(Background, 0, 1);
        Op->ControlInput("ParticleImage")->SetValue(Shape, 0, 1);
    }

    // A user's edit: the value is set, then the tool is notified.
    void Set(Input* in, Parameter* value, double time = 0) {
        in->SetValue(value, time, 1);
        Op->NotifyChanged(in, value, time);
        value->Recycle();
    }
    void SetNumber(Input* in, double v, double time = 0) { Set(in, new Number(v), time); }
    void SetPoint(Input* in, double x, double y, double time = 0) { Set(in, new Point(x, y), time); }
    void Press(Input* in, double time = 0) {
        if (in->DataType == DT_Text) {
            // A text input's press: the tool reads the value during the call only.
            Number* press = new Number(1.0);
            Op->NotifyChanged(in, press, time);
            press->Recycle();
        } else {
            SetNumber(in, 1.0, time);
        }
    }

    // One frame request at the time; returns the result (owned by the harness).
    Image* Request_(double time, uint32_t flags = 0) {
        Request req(Op, time, flags);
        Op->Process(&req);
        if (Last) Last->Recycle();
        Last = req.TakeOutput(Op->OutImage);
        return Last;
    }
    // Frames first..last through the flow, then the render end.
    void Render(double first, double last) { TheFlow.Render(first, last); }
    int ServeMessages() { return TheFlow.ServeMessages(); }

    Registry Reg;
    Flow TheFlow;
    ParticleOperator* Op = nullptr;
    Image* Background = nullptr;
    Image* Shape = nullptr;
    Image* Last = nullptr;
};
