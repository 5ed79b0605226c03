#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <streambuf>

#include "flash/console.h"

namespace iap::flash {
namespace {

// A stream buffer writing to a C runtime file descriptor.
class FdBuffer : public std::streambuf {
public:
    explicit FdBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) return traits_type::eof();
        if (c != traits_type::eof()) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        const char* p = pbase();
        while (p < pptr()) {
            const int n = ::_write(fd_, p, static_cast<unsigned>(pptr() - p));
            if (n <= 0) break;  // a closed pipe: the output is lost, the devices are not
            p += n;
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return 0;
    }

private:
    int fd_;
    char buffer_[8192];
};

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

Console takeStandardOutput() {
    std::fflush(stdout);
    const int own = ::_dup(1);
    std::FILE* null = std::freopen("NUL", "w", stdout);
    (void)null;
    const int fd = own >= 0 ? own : 2;
    ::_setmode(fd, 0x8000 /* _O_BINARY: the program writes its own line ends */);
    static FdBuffer buffer(fd);
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
