// usb-iap-fleet service install | remove (Windows): the shipper as a
// Windows service; `service run` is the entry the Service Control Manager
// starts, hidden from the help.
#include "fleet_cli/commands.h"
#include "fleet_cli/service_win32.h"

namespace iap::fleet_cli {

Runner addServiceCommand(CLI::App& app) {
    app.require_subcommand(1);
    CLI::App* install = app.add_subcommand(
        "install", "registers the service usb-iap-fleet-ship (from an elevated prompt): starts at boot, runs ship "
                   "with the options of %ProgramData%\\USB IAP tool\\fleet.conf");
    CLI::App* remove = app.add_subcommand("remove", "stops and unregisters the service");
    CLI::App* run = app.add_subcommand("run", "the service's own entry (the Service Control Manager starts it)");
    run->group("");
    return [install, remove, run](CliIo& io) {
        if (install->parsed()) return installService(io);
        if (remove->parsed()) return removeService(io);
        if (run->parsed()) return runService(io);
        return kUsage;
    };
}

}  // namespace iap::fleet_cli
