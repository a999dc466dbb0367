#include "host/flow.h"

#include <cmath>

namespace {

// Frames start..end (step 1) on every tool; false when PrepareFrame stopped them.
bool RenderFrames(Flow& flow, double start, double end) {
    const double span = end - start;
    if (!(span >= 0) || !std::isfinite(span)) return true;  // empty (or unusable) range
    const int64_t frames = int64_t(std::floor(span)) + 1;
    for (int64_t i = 0; i < frames; ++i)
        if (!flow.RenderFrame(start + double(i))) return false;
    return true;
}

}  // namespace

Flow::Flow(double firstFrame, double lastFrame) : First(firstFrame), Last(lastFrame) {}

Flow::~Flow() {
    for (Operator* op : ToolList) {
        op->OnRemoveFromFlow();
        op->SetFlow(nullptr);
        op->Recycle();
    }
}

void Flow::AddTool(Operator* op) {
    if (!op) return;
    ToolList.push_back(op);
    op->SetFlow(this);
    op->OnAddToFlow();
}

bool Flow::RenderFrame(double t) {
    for (Operator* op : ToolList) {
        if (PrepareFrame && !PrepareFrame(op, t)) return false;
        uint32_t flags = RequestFlags;
        if (t <= SimulateOnlyBefore || (DrawFrame && !DrawFrame(t))) flags |= Request::FlagSimulateOnly;
        Image* result = nullptr;
        {
            // The request ends before the result is handed on, so the callee
            // holds the only reference to it.
            Request req(op, t, flags);
            op->Process(&req);
            if (!op->Outputs().empty()) result = req.TakeOutput(op->Outputs().front());
        }
        if (FrameDone)
            FrameDone(op, t, result);
        else if (result)
            result->Recycle();
    }
    return true;
}

void Flow::StartRender() {
    for (Operator* op : ToolList) op->OnStartRender();
}

void Flow::EndRender() {
    for (Operator* op : ToolList) op->OnEndRender();
}

bool Flow::Render(double start, double end) {
    StartRender();
    // The render end reaches every tool however the render ends (done, stopped
    // or failed), so passes that wait for it are always closed. When a frame
    // failed, its error is the one passed on.
    bool finished;
    try {
        finished = RenderFrames(*this, start, end);
    } catch (...) {
        for (Operator* op : ToolList) {
            try {
                op->OnEndRender();
            } catch (...) {
            }
        }
        throw;
    }
    EndRender();
    return finished;
}

int Flow::ServeMessages() {
    int served = 0;
    while (std::unique_ptr<RenderMessage> msg = MessagePort.GetMsg()) {
        Render(msg->Start, msg->End);
        ++served;
    }
    return served;
}
