// The bounded FIFO of UI events between the producers (procedures, shell) and
// the single UI thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "ui/ui_event.h"

namespace iap {

class UIEventQueue {
public:
    static constexpr uint32_t kCapacity = 32;

    // Appends a copy; blocks while kCapacity events are pending. Once the
    // queue is closed nobody takes events any more: the event is dropped at
    // once and false is returned.
    bool put(const UIEvent& event);

    // Takes the oldest event, blocking until one is there.
    UIEvent take();

    // Called at shutdown after the exit event: later puts are dropped
    // instead of waiting for a consumer that has gone. Pending events can
    // still be taken.
    void close();

    size_t pending();

    // Puts that are waiting for room right now. Lets a caller (a test) tell
    // a producer that is blocked inside put from one that has not got there.
    size_t waitingProducers();

private:
    std::mutex mutex;
    std::condition_variable notEmpty;
    std::condition_variable notFull;
    std::deque<UIEvent> fifo;
    bool closed = false;
    size_t waiting = 0;
};

}  // namespace iap
