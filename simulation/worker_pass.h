// simulation/worker_pass.h
#pragma once
// Work that is split into chunks and run on the host's workers: a compositing
// stage or the parallel part of a simulation step.
struct WorkerPass {
    virtual void Run(long chunk) = 0;

protected:
    ~WorkerPass() = default;
};

// Runs a pass's chunks 0 .. chunks - 1, possibly at the same time, and returns
// when all have run.
class PassRunner {
public:
    virtual void RunPass(WorkerPass& pass, long chunks) = 0;

protected:
    ~PassRunner() = default;
};
