#include "host/messages.h"

void MsgPort::PutMsg(RenderMessage* msg) {
    if (!msg) return;
    std::lock_guard<std::mutex> guard(Lock);
    Queue.emplace_back(msg);
}

std::unique_ptr<RenderMessage> MsgPort::GetMsg() {
    std::lock_guard<std::mutex> guard(Lock);
    if (Queue.empty()) return nullptr;
    std::unique_ptr<RenderMessage> msg = std::move(Queue.front());
    Queue.pop_front();
    return msg;
}

bool MsgPort::Empty() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Queue.empty();
}
