#include "operator/host_pass_runner.h"

void HostPassRunner::RunPass(WorkerPass& pass, long chunks) {
    // The pass stops being the active one however DoMultiProcess ends.
    struct ActiveLink {
        WorkerPass*& Active;
        ~ActiveLink() { Active = nullptr; }
    } link{Active};
    Active = &pass;
    Host.DoMultiProcess(CurrentRequest, chunks);
}

bool HostPassRunner::RunChunk(long chunk) {
    WorkerPass* pass = Active;
    if (!pass) return false;
    pass->Run(chunk);
    return true;
}
