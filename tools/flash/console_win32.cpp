#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "flash/console.h"
#include "flash/fd_buffer.h"

namespace iap::flash {
namespace {

long writeSome(int fd, const char* data, size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(size));
}

std::function<void()>* g_interrupt = nullptr;
LONG g_interrupts = 0;

// Runs on a thread the system starts for each console event.
BOOL WINAPI onConsoleEvent(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (InterlockedIncrement(&g_interrupts) > 1) std::_Exit(130);
    if (g_interrupt) (*g_interrupt)();
    return TRUE;
}

}  // namespace

Console openConsole() {
    const int fd = 1;
    ::_setmode(fd, 0x8000 /* _O_BINARY: the program writes its own line ends */);
    static FdBuffer buffer(fd, &writeSome);
    static std::ostream out(&buffer);
    // A console that takes cursor movements: virtual terminal processing on.
    bool terminal = false;
    int width = 80;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::_isatty(fd) && GetConsoleMode(handle, &mode)) {
        terminal = SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(handle, &info) && info.srWindow.Right > info.srWindow.Left) {
            width = info.srWindow.Right - info.srWindow.Left + 1;
        }
    }
    return {out, terminal, width};
}

void onInterrupt(std::function<void()> handler) {
    static std::function<void()> kept;
    kept = std::move(handler);
    g_interrupt = &kept;
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

}  // namespace iap::flash
