// The subcommands of usb-iap-pack on CLI11. A subcommand is one function that
// adds itself, its options and its callback to the program's CLI::App; the
// table in pack_cli.cpp lists them. The callback runs the command and sets
// io.status; it throws UsageError for a command line it cannot use (exit 2)
// and std::runtime_error for a bad input (exit 1).
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

namespace iap::pack {

struct CommandIo {
    std::ostream& out;
    std::ostream& err;
    int status = 0;
};

using AddCommand = void (*)(CLI::App& app, CommandIo& io);

void addBuildCommand(CLI::App& app, CommandIo& io);    // pack_build.cpp
void addInspectCommand(CLI::App& app, CommandIo& io);  // pack_inspect.cpp
void addSkinCommand(CLI::App& app, CommandIo& io);     // pack_skin.cpp

// Throws UsageError naming the first argument the subcommand did not take
// ("unknown option \"--x\""), when there is one. Subcommands allow extras
// so that this text, not CLI11's, is what a script sees.
void refuseExtras(const CLI::App& sub);

}  // namespace iap::pack
