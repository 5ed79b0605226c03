// The request to stop work at once: set from any thread (not from a signal
// handler: the program turns the signal into a call), read by every stepping
// and waiting loop. The window's exitRequested and searchCancelled are two
// of them, set at shutdown; usb-iap-flash's Ctrl-C is one, and each device
// thread of the station follows it together with its own std::jthread's stop
// token, so that a thread is told to stop when its owner unwinds too.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>

namespace iap {

class StopSignal {
public:
    // A signal of its own.
    StopSignal() : token_(source_.get_token()) {}
    // A signal that is requested once token is, or once `above` is (a
    // thread's stop token under the program's signal).
    StopSignal(std::stop_token token, const StopSignal& above)
        : source_(std::nostopstate), token_(std::move(token)), above_(&above) {
        wake_.emplace(above.token_, [this] { notify(); });
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Requests the stop of a signal of its own (a following signal is
    // requested through its token or the signal above).
    void request() { source_.request_stop(); }
    bool requested() const { return token_.stop_requested() || (above_ && above_->requested()); }
    // Waits up to `limit`; true when a stop has been requested.
    bool waitFor(std::chrono::steady_clock::duration limit) const {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, token_, limit, [this] { return above_ && above_->requested(); });
        return requested();
    }

private:
    void notify() {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }

    std::stop_source source_;
    std::stop_token token_;
    const StopSignal* above_ = nullptr;
    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    // Last, so that it is gone before what it touches.
    std::optional<std::stop_callback<std::function<void()>>> wake_;
};

}  // namespace iap
