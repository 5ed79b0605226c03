// The process-wide objects that the procedures, tasks and the screen share.
// The application creates exactly one; tests create as many as they like.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/device_bus.h"
#include "package/app_state.h"

namespace iap {

class UIEventQueue;     // ui/ui_event_queue.h
class ThreadPool;       // ui/thread_pool.h
class DeviceConnection; // link/connection.h
class DisplayState;     // ui/display_state.h

// Busy state values.
enum BusyState : int32_t {
    BUSY_IDLE = 0,
    BUSY_DEVINFO = 1,
    BUSY_UPGRADE = 2,
    BUSY_TO_BOOT = 3,  // the switch to bootloader runs (on the main thread)
    BUSY_AUTO_WAITING = 4,
    BUSY_AUTO_ATTEMPT = 5,
};

struct ToolContext {
    const AppState* state = nullptr;     // filled by the loader, then read-only
    DeviceBus* bus = nullptr;            // real or simulated
    UIEventQueue* events = nullptr;      // the UI event queue
    ThreadPool* pool = nullptr;          // the worker pool
    DeviceConnection* connection = nullptr;  // the one device record with its buffers
    DisplayState* display = nullptr;     // the texts the UI thread writes and the screen draws

    std::atomic<int32_t> busy{BUSY_IDLE};
    std::atomic<bool> autoStart{false};
    std::atomic<bool> exitRequested{false};
    std::atomic<bool> searchCancelled{false};
    std::atomic<uint32_t> progress_limit{100};
    std::atomic<uint32_t> progress_pos{100};

    // Pause between two auto-start attempts, in milliseconds.
    int32_t autoStartPauseMs = 2000;
};

}  // namespace iap
