#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/archive.h"
#include "host/image.h"
#include "host/object.h"
#include "host/parameters.h"

class Operator;
class Registry;
class Flow;
class MsgPort;

// A time range: start, end and a third value the host may use as a step.
class TimeExtent {
public:
    TimeExtent(double start, double end, double step) : Start(start), End(end), Step(step) {}
    double Start, End, Step;
};

// An input of an operator: a control on a page, or an image input.
class Input : public Object {
public:
    Input(Operator* owner, std::string label, uint32_t type, uint32_t id, TagList tags, int page);

    // The value at a time, with one reference added for the caller (release it
    // with Recycle). This host keeps one current value per input; the time is
    // accepted for the interface's sake.
    Parameter* GetValue(double time) const;
    // Sets the value (the input adds its own reference). flags 1 = notify-free set
    // as the tools use it; the host itself calls NotifyChanged where a user edit
    // would.
    void SetValue(Parameter* value, double time, int flags);

    Operator* const Owner;
    const std::string Label;
    const uint32_t DataType;
    const uint32_t ID;
    const int Page;  // index into the owner's pages; -1 for image inputs

    // The tags as given at creation, in creation order (for listing the controls).
    const TagList CreationTags;

protected:
    ~Input() override;

private:
    mutable std::mutex ValueLock;
    Parameter* Value = nullptr;
};

class Output : public Object {
public:
    Output(Operator* owner, std::string label, uint32_t type, uint32_t id)
        : Owner(owner), Label(std::move(label)), DataType(type), ID(id) {}
    Operator* const Owner;
    const std::string Label;
    const uint32_t DataType;
    const uint32_t ID;
};

// One frame request. Request flags: bit 0 quick render (nearest sampling),
// bit 1 simulate only (the host discards the picture).
class Request {
public:
    static constexpr uint32_t FlagQuick = 1;
    static constexpr uint32_t FlagSimulateOnly = 2;

    Request(Operator* op, double time, uint32_t flags);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // The input's value for this request; valid until the request ends. Never
    // null for a connected input.
    Parameter* GetInputData(Input* in, int32_t = 0);
    // The image becomes the request's result (the request takes the reference).
    bool SetOutputData(Output* out, Image* img);

    double Time() const { return ReqTime; }
    uint32_t Flags() const { return ReqFlags; }
    // The result, with a reference added for the caller; null when none was set.
    Image* TakeOutput(Output* out);

private:
    Operator* Op;
    double ReqTime;
    uint32_t ReqFlags;
    std::vector<Parameter*> Held;
    std::vector<std::pair<Output*, Image*>> Outputs;
};

struct ControlPage {
    std::string Name;
};

// A tool's simulation state between two frames, taken by Operator::SaveState for
// a host that scrubs a timeline. Opaque to the host; it only goes back to the
// tool that made it.
class SimulationState {
public:
    virtual ~SimulationState() = default;
    // Roughly the memory the state holds, for a host that bounds what it keeps.
    virtual size_t Bytes() const { return sizeof(*this); }
};

// The base of every tool. Virtual operations the tools override keep the host's
// names; the host calls them from the flow.
class Operator : public Object {
public:
    Operator(Registry* reg, CArchive* archive, TagList* tags);

    // --- building the controls (from the tool's constructor) ---
    void AddControlPage(const char* name, int32_t = 0);
    Input* AddInput(const char* label, uint32_t type, uint32_t id, std::initializer_list<TagItem> tags = {});
    Input* AddInput(const char* label, uint32_t type, uint32_t id, TagList tags);
    Output* AddOutput(const char* label, uint32_t type, uint32_t id, std::initializer_list<TagItem> tags = {});

    // --- virtual operations ---
    // Writes the host's part of the saved data; returns non-zero on success.
    virtual uint32_t Save(CArchive* archive, TagList* tags);
    virtual void OnAddToFlow();
    virtual void OnRemoveFromFlow();
    virtual void OnStartRender();
    virtual void OnEndRender();
    virtual void Process(Request* req);
    // Host handling of a change the tool does not consume: nothing beyond the
    // bookkeeping below.
    virtual void NotifyChanged(Input* in, Parameter* value, double time);
    virtual void GetExtent(TimeExtent* extent);
    // The simulation state after the last frame, so that a later RestoreState puts
    // the tool back there and the following frames come out as they would have.
    // Null when the tool has no such state or cannot give it now.
    virtual std::unique_ptr<SimulationState> SaveState();
    // Puts back a state this tool saved; false when it cannot.
    virtual bool RestoreState(const SimulationState& state);

    // --- host side ---
    const std::vector<ControlPage>& Pages() const { return PageList; }
    const std::vector<Input*>& Inputs() const { return InputList; }
    const std::vector<Output*>& Outputs() const { return OutputList; }
    Input* FindInput(uint32_t id) const;
    Registry* GetRegistry() const { return Reg; }
    void SetFlow(Flow* flow) { OwnerFlow = flow; }
    Flow* GetFlow() const { return OwnerFlow; }
    // The message port of the flow that owns the operator (null outside a flow).
    MsgPort* GetMsgPort() const;
    // How many times the base NotifyChanged ran (lets tests see that a tool
    // skipped or reached the base handling).
    int64_t BaseNotifyCount() const { return BaseNotifies; }

protected:
    ~Operator() override;

private:
    Registry* Reg;
    Flow* OwnerFlow = nullptr;
    std::vector<ControlPage> PageList;
    std::vector<Input*> InputList;
    std::vector<Output*> OutputList;
    int64_t BaseNotifies = 0;
};

// An operator whose frame work is split into chunks that the host runs on its
// worker pool.
class ThreadedOperator : public Operator {
public:
    ThreadedOperator(Registry* reg, CArchive* archive, TagList* tags) : Operator(reg, archive, tags) {}
    // Runs ProcessChunk(req, i) for every i in [0, chunks) on the host's worker
    // threads and returns when all have finished.
    void DoMultiProcess(Request* req, long chunks);
    virtual void ProcessChunk(Request* req, long chunk);
    virtual void QuickProcessChunk(Request* req, long chunk);

protected:
    ~ThreadedOperator() override = default;
};

// The host's worker pool: how many threads DoMultiProcess may use (0 = all cores).
void SetWorkerThreads(int n);
int WorkerThreads();
