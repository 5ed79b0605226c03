// The seam between the shell and the windowing system: one window with its
// GL context, the message pump, the buffer swap and the clock. The shell's
// start-up sequence, frame loop and shutdown only talk to this interface, so
// another windowing system can slot in behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace iap {

// Microseconds on the clock that frames are paced by.
using PacingClock = int64_t (*)();
// The monotonic clock.
int64_t steadyMicros();

struct WindowSpec {
    const char* title = "";
    int clientWidth = 0;
    int clientHeight = 0;
    int x = 0;
    int y = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Starts the windowing system for this process: registers the window
    // class on Win32, initialises GLFW elsewhere. False on failure.
    virtual bool initWindowSystem() = 0;
    // Creates and shows the window (no GL context current yet). False on failure.
    virtual bool createWindow(const WindowSpec& spec) = 0;
    // Makes the window's GL context current on this thread. False on failure.
    virtual bool makeContextCurrent() = 0;
    // Why the window's GL context could not be made, after createWindow or
    // makeContextCurrent failed for want of one ("" otherwise).
    virtual std::string glFailure() const { return {}; }
    // The entry points of Dear ImGui's OpenGL3 back-end that the current
    // context lacks, comma-separated ("" when it has them all, or when the
    // GL library resolves them by the context's version, as libepoxy does).
    virtual std::string missingOpenGL3EntryPoints() const { return {}; }
    // Tells the user why the tool cannot run: standard error; a message box
    // on Windows, where a windowed program has no console.
    virtual void showError(const std::string& text);
    // Dear ImGui platform back-end for this window.
    virtual bool initImGui() = 0;
    virtual void newImGuiFrame() = 0;
    virtual void shutdownImGui() = 0;
    // Handles every waiting message without blocking. Returns false once the
    // user has asked to close the window.
    virtual bool pumpMessages() = 0;
    virtual void swapBuffers() = 0;
    // Last client size reported while the window was not minimised.
    virtual uint32_t clientWidth() const = 0;
    virtual uint32_t clientHeight() const = 0;
    // Releases the GL context and the window.
    virtual void destroyWindow() = 0;
    // Undoes initWindowSystem: unregisters the class / terminates GLFW.
    virtual void releaseWindowSystem() = 0;
    // The clock frames are paced by: the monotonic clock unless the window
    // system says otherwise (Win32: the wall clock, as the system's own
    // timers count it).
    virtual PacingClock pacingClock() const { return steadyMicros; }
};

// The window system of this build: GLFW on Linux (the show command is not
// used), Win32 on Windows (ShowWindow gets the show command of WinMain).
std::unique_ptr<Platform> makeWindowPlatform(int showCommand);

}  // namespace iap
