#include "host/operator.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "host/flow.h"
#include "host_block.h"

// ---------------------------------------------------------------- Input

Input::Input(Operator* owner, std::string label, uint32_t type, uint32_t id, TagList tags, int page)
    : Owner(owner), Label(std::move(label)), DataType(type), ID(id), Page(page), CreationTags(tags) {
    Attrs = std::move(tags);
}

Input::~Input() {
    if (Value) Value->Recycle();
}

namespace {

// The value an input has before anything was set: built from its creation tags.
Parameter* DefaultValue(uint32_t type, const TagList& tags) {
    switch (type) {
        case DT_Number:
            return new Number(tags.GetDouble(Tags::Default, 0.0));
        case DT_Point:
            return new Point(tags.GetDouble(Tags::DefaultX, 0.0), tags.GetDouble(Tags::DefaultY, 0.0));
        case DT_Text:
            return new Text(reinterpret_cast<const char*>(tags.GetPtr(Tags::DefaultText, 0)));
        case DT_LookUpTable:
            return new LookUpTable();
        case DT_PolyLine:
            return new PolyLine();
        default:
            return nullptr;  // images (and unknown types) have no default
    }
}

}  // namespace

Parameter* Input::GetValue(double) const {
    {
        std::lock_guard<std::mutex> guard(ValueLock);
        if (Value) {
            Value->AddRef();
            return Value;
        }
    }
    return DefaultValue(DataType, CreationTags);
}

void Input::SetValue(Parameter* value, double, int) {
    if (value) value->AddRef();
    Parameter* old;
    {
        std::lock_guard<std::mutex> guard(ValueLock);
        old = Value;
        Value = value;
    }
    if (old) old->Recycle();
}

// ---------------------------------------------------------------- Request

Request::Request(Operator* op, double time, uint32_t flags) : Op(op), ReqTime(time), ReqFlags(flags) {}

Request::~Request() {
    for (Parameter* p : Held) p->Recycle();
    for (auto& [out, img] : Outputs)
        if (img) img->Recycle();
}

Parameter* Request::GetInputData(Input* in, int32_t) {
    if (!in) return nullptr;
    Parameter* p = in->GetValue(ReqTime);
    if (p) Held.push_back(p);
    return p;
}

bool Request::SetOutputData(Output* out, Image* img) {
    for (auto& [o, existing] : Outputs) {
        if (o == out) {
            if (existing) existing->Recycle();
            existing = img;
            return true;
        }
    }
    Outputs.emplace_back(out, img);
    return true;
}

Image* Request::TakeOutput(Output* out) {
    for (auto& [o, img] : Outputs) {
        if (o == out) {
            if (img) img->AddRef();
            return img;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------- Operator

Operator::Operator(Registry* reg, CArchive* archive, TagList*) : Reg(reg) {
    if (!archive || !archive->IsLoading()) return;
    uint32_t marker = 0, length = 0;
    try {
        *archive >> marker;
    } catch (const CArchiveException&) {
        throw CArchiveException("saved operator data ends before the host block");
    }
    if (marker != hostinternal::HostBlockMarker)
        throw CArchiveException("saved operator data: host block marker \"LHst\" expected, found 0x" + [&] {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%08X", marker);
            return std::string(buf);
        }());
    try {
        *archive >> length;
    } catch (const CArchiveException&) {
        throw CArchiveException("saved operator data: host block truncated");
    }
    if (length > archive->Remaining())
        throw CArchiveException("saved operator data: host block of " + std::to_string(length) +
                                " bytes is longer than the " + std::to_string(archive->Remaining()) + " bytes left");
    // This host keeps nothing in its block; skip what a later host may have stored.
    std::vector<uint8_t> skipped(length);
    archive->Read(skipped.data(), length);
}

Operator::~Operator() {
    for (Input* in : InputList) in->Recycle();
    for (Output* out : OutputList) out->Recycle();
}

void Operator::AddControlPage(const char* name, int32_t) { PageList.push_back(ControlPage{name ? name : ""}); }

Input* Operator::AddInput(const char* label, uint32_t type, uint32_t id, std::initializer_list<TagItem> tags) {
    return AddInput(label, type, id, TagList(tags));
}

Input* Operator::AddInput(const char* label, uint32_t type, uint32_t id, TagList tags) {
    const int page = type == DT_Image ? -1 : int(PageList.size()) - 1;
    Input* in = new Input(this, label ? label : "", type, id, std::move(tags), page);
    InputList.push_back(in);
    return in;
}

Output* Operator::AddOutput(const char* label, uint32_t type, uint32_t id, std::initializer_list<TagItem> tags) {
    Output* out = new Output(this, label ? label : "", type, id);
    out->SetAttrs(tags);
    OutputList.push_back(out);
    return out;
}

uint32_t Operator::Save(CArchive* archive, TagList*) {
    if (!archive || !archive->IsStoring()) return 0;
    *archive << hostinternal::HostBlockMarker << uint32_t(0);
    return 1;
}

void Operator::OnAddToFlow() {}
void Operator::OnRemoveFromFlow() {}
void Operator::OnStartRender() {}
void Operator::OnEndRender() {}
void Operator::Process(Request*) {}

void Operator::NotifyChanged(Input*, Parameter*, double) { ++BaseNotifies; }

void Operator::GetExtent(TimeExtent* extent) {
    if (!extent || !OwnerFlow) return;
    const TimeExtent e = OwnerFlow->Extent();
    extent->Start = e.Start;
    extent->End = e.End;
    extent->Step = e.Step;
}

std::unique_ptr<SimulationState> Operator::SaveState() { return nullptr; }
bool Operator::RestoreState(const SimulationState&) { return false; }

Input* Operator::FindInput(uint32_t id) const {
    for (Input* in : InputList)
        if (in->ID == id) return in;
    return nullptr;
}

MsgPort* Operator::GetMsgPort() const { return OwnerFlow ? &OwnerFlow->Port() : nullptr; }

// ---------------------------------------------------------------- ThreadedOperator

namespace {
std::atomic<int> WorkerThreadLimit{0};
// Counters of DoMultiProcess's hand-over (static, so never written without an
// atomic operation).
std::atomic<uint64_t> HandOut{0}, HandBack{0};
}

void SetWorkerThreads(int n) { WorkerThreadLimit.store(n < 0 ? 0 : n); }
int WorkerThreads() { return WorkerThreadLimit.load(); }

void ThreadedOperator::DoMultiProcess(Request* req, long chunks) {
    if (chunks <= 0) return;
    // Every chunk runs even when one throws; the first exception is passed on
    // once all have finished, so the caller never sees a half-running pass.
    std::exception_ptr first;
    std::mutex firstLock;
    // The hand-over to the workers and back is also made through two atomics:
    // the pool's own synchronisation lives inside the TBB library, which race
    // detectors (ThreadSanitizer) do not see into. What the caller wrote before
    // the call is seen by every chunk, and what the chunks wrote is seen by the
    // caller once the call returns.
    HandOut.fetch_add(1, std::memory_order_release);
    auto runChunk = [&](long i) {
        (void)HandOut.load(std::memory_order_acquire);
        try {
            ProcessChunk(req, i);
        } catch (...) {
            std::lock_guard<std::mutex> guard(firstLock);
            if (!first) first = std::current_exception();
        }
        HandBack.fetch_add(1, std::memory_order_release);
    };
    const int threads = WorkerThreads();
    if (threads == 1 || chunks == 1) {
        for (long i = 0; i < chunks; ++i) runChunk(i);
    } else {
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer cannot see the synchronisation inside the uninstrumented
        // TBB library; under it the chunks run on plain threads, whose start and
        // join it does see, so a race it reports is one in the chunk code.
        const int n = threads == 0 ? int(std::max(2u, std::thread::hardware_concurrency())) : threads;
        std::atomic<long> next{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < n; ++t)
            pool.emplace_back([&] {
                for (long i = next.fetch_add(1); i < chunks; i = next.fetch_add(1)) runChunk(i);
            });
        for (std::thread& t : pool) t.join();
#else
        tbb::task_arena arena(threads == 0 ? tbb::task_arena::automatic : threads);
        arena.execute([&] {
            tbb::parallel_for(tbb::blocked_range<long>(0, chunks, 1), [&](const tbb::blocked_range<long>& r) {
                for (long i = r.begin(); i != r.end(); ++i) runChunk(i);
            });
        });
#endif
    }
    (void)HandBack.load(std::memory_order_acquire);
    if (first) std::rethrow_exception(first);
}

void ThreadedOperator::ProcessChunk(Request*, long) {}

void ThreadedOperator::QuickProcessChunk(Request* req, long chunk) { ProcessChunk(req, chunk); }
