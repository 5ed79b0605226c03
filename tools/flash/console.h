// What the front end needs from the operating system, each behind one small
// function (console_posix.cpp on Linux).
#pragma once

#include <functional>
#include <ostream>

namespace iap::flash {

struct Console {
    std::ostream& out;  // the program's own output
    bool terminal;      // out is a terminal that takes cursor movements
    int width;          // its width in characters (80 when unknown)
};

// The process's standard output as the program's output, written through
// the system's write call (whole lines, no C library buffer between).
Console openConsole();

// Calls handler on a thread of its own at the first Ctrl-C (or termination
// request); a second one ends the process at once with code 130. Call it
// before any other thread starts.
void onInterrupt(std::function<void()> handler);

}  // namespace iap::flash
