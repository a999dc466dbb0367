#pragma once
#include <functional>
#include <vector>

#include "host/messages.h"
#include "host/operator.h"

// A flow: owns its tools and a message port, and renders frame ranges. The caller
// supplies how to prepare each frame's inputs and what to do with each result.
class Flow {
public:
    Flow(double firstFrame, double lastFrame);
    ~Flow();
    Flow(const Flow&) = delete;
    Flow& operator=(const Flow&) = delete;

    // Takes the reference the caller holds, sets the tool's flow and calls OnAddToFlow.
    void AddTool(Operator* op);
    const std::vector<Operator*>& Tools() const { return ToolList; }
    MsgPort& Port() { return MessagePort; }
    TimeExtent Extent() const { return TimeExtent(First, Last, 1.0); }
    void SetExtent(double first, double last) { First = first; Last = last; }

    // Called before each frame's request (set input values, keyframes, events).
    // Returning false stops the render early (as a user's stop would).
    std::function<bool(Operator* op, double time)> PrepareFrame;
    // Called with each frame's result (null when the tool set none); the callee
    // takes the reference.
    std::function<void(Operator* op, double time, Image* result)> FrameDone;
    // Request flags for the frames of a render (quick render and so on).
    uint32_t RequestFlags = 0;
    // Frames at or before this time are rendered with the simulate-only flag
    // (used to bring a stateful tool up to a later first frame).
    double SimulateOnlyBefore = -1e300;
    // When set, frames it answers false for are rendered with the simulate-only
    // flag too (the frames between those of a frame list).
    std::function<bool(double time)> DrawFrame;

    // Renders frames start..end (step 1) on every tool, then calls OnEndRender on
    // every tool. Returns false when PrepareFrame stopped it.
    bool Render(double start, double end);
    // Serves the posted RenderMessages in order until the port is empty; returns
    // the number served.
    int ServeMessages();

    // An open-ended render, for hosts whose frames arrive one at a time (a video
    // filter): StartRender, then RenderFrame for each frame, then EndRender. The
    // tools see the same calls as in Render. RenderFrame returns false when
    // PrepareFrame stopped the frame (no request was made then).
    void StartRender();
    bool RenderFrame(double time);
    void EndRender();

private:
    std::vector<Operator*> ToolList;
    MsgPort MessagePort;
    double First, Last;
};
