// The request to stop everything at once (Ctrl-C): set from any thread (not
// from a signal handler: the front end turns the signal into a call), read
// by every waiting and stepping loop of the station.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace iap {

class StopSignal {
public:
    void request() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_.store(true);
        }
        changed_.notify_all();
    }
    bool requested() const { return stop_.load(); }
    // The flag itself, for the procedures' stepping loop and the search.
    const std::atomic<bool>& flag() const { return stop_; }
    // Waits up to `limit`; true when a stop has been requested.
    bool waitFor(std::chrono::steady_clock::duration limit) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return stop_.load(); });
    }

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
};

}  // namespace iap
