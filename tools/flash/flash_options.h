// usb-iap-flash's command line (CLI11): the commands, their options and the
// texts of its errors, which scripts read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace iap::flash {

struct Options {
    std::string command, tool;
    bool all = false, toBoot = false, json = false, plain = false, verbose = false;
    std::vector<std::string> ports;
    std::vector<std::string> trust;  // --trust NAME.pub, with the system trust folder
    std::optional<double> waitSeconds;
    // --publish: the live board on an MQTT broker (flash and line).
    std::string publish, site, station;
    std::string user, passwordFile, password;  // at the broker; the password read from passwordFile
    std::string caFile;                        // --ca: an mqtts:// broker's CA
};

struct CommandLine {
    std::optional<Options> options;  // none: nothing to run, only the texts below
    int exitCode = 0;                // without options: 0 for --help and --version, 2 for an error
    std::string out, err;            // for standard output and the error stream
};

// args: the words after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace iap::flash
