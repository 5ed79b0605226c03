#include "flash/console.h"
#include "flash/fd_buffer.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace iap::flash {
namespace {

long writeSome(int fd, const char* data, size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

}  // namespace

Console openConsole() {
    const int fd = 1;
    static FdBuffer buffer(fd, &writeSome);
    static std::ostream out(&buffer);
    const char* term = std::getenv("TERM");
    const bool terminal = ::isatty(fd) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
    winsize size{};
    const int width = ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    return {out, terminal, width};
}

void onInterrupt(std::function<void()> handler) {
    // A handler of our own, never run (the signals are blocked), replaces an
    // inherited "ignore" (a shell starts background jobs so): an ignored
    // signal would be dropped instead of waiting for sigwait.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Blocked here, the signals stay blocked in every thread started later
    // and reach only the waiting thread below.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::thread([set, handler = std::move(handler)] {
        int received = 0;
        if (sigwait(&set, &received) != 0) return;
        handler();
        if (sigwait(&set, &received) == 0) std::_Exit(130);
    }).detach();
}

}  // namespace iap::flash
