// The process entry shared by the tool and its demo: single instance, window
// and GL context, GUI set-up, main_init, the paced frame loop and shutdown.
// The device bus is the only thing that differs between the two.
#pragma once

#include <memory>

#include "app/gl_renderer.h"
#include "app/platform.h"
#include "link/connection.h"
#include "link/device_bus.h"
#include "package/app_state.h"
#include "ui/display_state.h"
#include "ui/event_reporter.h"
#include "ui/thread_pool.h"
#include "ui/ui_event_queue.h"
#include "upgrade/tool_context.h"
#include "upgrade/upgrade_record.h"

namespace iap {

// Window class name, window title and the name of the single-instance lock.
inline constexpr const char* kWindowName = "USB IAP tool";
inline constexpr int kClientWidth = 600;
inline constexpr int kClientHeight = 400;

// The process-wide objects of the shell. Created once and never destroyed:
// worker threads may still use them while the process ends.
struct Shell {
    std::unique_ptr<Platform> platform;
    GlContextFacts gl;  // of the window's context
    AppState state;
    DisplayState display;
    DeviceConnection connection;
    ToolContext ctx;
    std::unique_ptr<ThreadPool> pool;
    std::unique_ptr<UIEventQueue> queue;
    std::unique_ptr<EventReporter> reporter;
    std::unique_ptr<UpgradeRecord> record;
    bool packageValid = false;
    bool workersEnded = true;  // every pool worker ended at shutdown
};

// Runs the tool on the bus and returns the process exit code: 0 after a
// normal run and for a second copy, 1 when the window or its GL context
// cannot be made ("initWGL failed: {}" in the log, the reason also shown to
// the user) or a standard exception ends the run ("Main exception {}").
// showCommand: the show command the process was started with (Win32).
int WinMain(int argc, char** argv, DeviceBus& bus, int showCommand = 0);
// The same on a given platform (tests hand in their own).
int WinMain(int argc, char** argv, DeviceBus& bus, std::unique_ptr<Platform> platform);

// The initialisation sequence after the GUI context exists. Always true.
bool main_init(Shell& shell, int argc, char** argv);

}  // namespace iap
