#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class Operator;

// A request to render a frame range, posted by a tool (recording and shape-capture passes).
class RenderMessage {
public:
    RenderMessage(double start, double end, unsigned long flags, Operator* target, Operator* sender,
                  unsigned long flags2, long step)
        : Start(start), End(end), Flags(flags), Target(target), Sender(sender), Flags2(flags2), Step(step) {}
    double Start, End;
    unsigned long Flags;
    Operator* Target;
    Operator* Sender;
    unsigned long Flags2;
    long Step;
};

// The flow's message port. PutMsg takes ownership of the message; the flow's
// render loop serves the posted messages in order.
class MsgPort {
public:
    void PutMsg(RenderMessage* msg);
    std::unique_ptr<RenderMessage> GetMsg();
    bool Empty() const;

private:
    mutable std::mutex Lock;
    std::deque<std::unique_ptr<RenderMessage>> Queue;
};
