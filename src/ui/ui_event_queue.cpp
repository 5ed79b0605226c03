#include "ui/ui_event_queue.h"

namespace iap {

bool UIEventQueue::put(const UIEvent& event) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!closed && fifo.size() >= kCapacity) {
        // Counted only while the lock is released inside the wait: whoever
        // sees the count under the lock sees a put that is really blocked.
        ++waiting;
        notFull.wait(lock, [this] { return closed || fifo.size() < kCapacity; });
        --waiting;
    }
    if (closed) {
        return false;
    }
    fifo.push_back(event);
    notEmpty.notify_all();
    return true;
}

UIEvent UIEventQueue::take() {
    std::unique_lock<std::mutex> lock(mutex);
    notEmpty.wait(lock, [this] { return !fifo.empty(); });
    UIEvent event = std::move(fifo.front());
    fifo.pop_front();
    notFull.notify_all();
    return event;
}

void UIEventQueue::close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    notFull.notify_all();
}

size_t UIEventQueue::pending() {
    std::lock_guard<std::mutex> lock(mutex);
    return fifo.size();
}

size_t UIEventQueue::waitingProducers() {
    std::lock_guard<std::mutex> lock(mutex);
    return waiting;
}

}  // namespace iap
