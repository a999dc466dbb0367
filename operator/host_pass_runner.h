#pragma once
#include "host/operator.h"
#include "simulation/worker_pass.h"

// Runs passes on the host's workers through the operator's DoMultiProcess: while
// a pass is under way, the operator's ProcessChunk hands each chunk to RunChunk.
// One pass at a time (passes are run from the render thread only).
class HostPassRunner final : public PassRunner {
public:
    // request: where the operator keeps the request it serves (may hold null);
    // it is read at each pass and handed to the host with it.
    HostPassRunner(ThreadedOperator& host, Request* const& request) : Host(host), CurrentRequest(request) {}
    HostPassRunner(const HostPassRunner&) = delete;
    HostPassRunner& operator=(const HostPassRunner&) = delete;

    void RunPass(WorkerPass& pass, long chunks) override;
    // Runs chunk of the pass under way; false when no pass is.
    bool RunChunk(long chunk);

private:
    ThreadedOperator& Host;
    Request* const& CurrentRequest;
    WorkerPass* Active = nullptr;
};
