// Holds the busy state for the life of one task: claimed from idle by
// compare-and-exchange, returned to idle however the task ends (an escaping
// exception included). A failed claim leaves the state alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "upgrade/tool_context.h"

namespace iap {

class BusyClaim {
public:
    BusyClaim(std::atomic<int32_t>& busy, int32_t value) : busy_(busy) {
        int32_t expected = BUSY_IDLE;
        claimed_ = busy_.compare_exchange_strong(expected, value);
    }
    ~BusyClaim() {
        if (claimed_) {
            busy_.store(BUSY_IDLE);
        }
    }
    BusyClaim(const BusyClaim&) = delete;
    BusyClaim& operator=(const BusyClaim&) = delete;

    explicit operator bool() const { return claimed_; }

private:
    std::atomic<int32_t>& busy_;
    bool claimed_ = false;
};

}  // namespace iap
