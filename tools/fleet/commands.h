// The commands of usb-iap-fleet, each adding its options to the parser and
// giving the function that runs it once the options are parsed.
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "fleet/transport.h"
#include "fleet_cli/fleet_cli.h"

namespace iap::fleet_cli {

using Runner = std::function<int(CliIo&)>;

// A failure the user's options caused: said with its text, exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// --broker, --user, --password-file, --ca: the options every command that
// speaks to a broker takes.
struct BrokerArgs {
    std::string broker, user, passwordFile, ca;
    void add(CLI::App& app);
    // Throws UsageError.
    fleet::ConnectOptions connectOptions() const;
};

Runner addShipCommand(CLI::App& app);
Runner addCollectCommand(CLI::App& app);
Runner addQueryCommand(CLI::App& app);
Runner addBrokerConfigCommand(CLI::App& app);
#ifdef _WIN32
Runner addServiceCommand(CLI::App& app);  // service_command.cpp, Windows only
#endif

}  // namespace iap::fleet_cli
