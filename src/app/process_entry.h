// The process entry of the tool's programs. IAP_PROCESS_ENTRY(run) defines
// main on Linux and WinMain on Windows, each calling
// run(argc, argv, showCommand): on Windows the C runtime's __argc and __argv
// and WinMain's show command, on Linux the show command is 0.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

#define IAP_PROCESS_ENTRY(run)                                                 \
    int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {         \
        return run(__argc, __argv, showCommand);                               \
    }
#else
#define IAP_PROCESS_ENTRY(run) \
    int main(int argc, char** argv) { return run(argc, argv, 0); }
#endif
