// usb-iap-fleet as the Windows service that ships this station's records:
// registered with the Service Control Manager by `service install`, started
// by it as `usb-iap-fleet.exe service run`, which runs ship with the options
// of fleet.conf in the machine's settings folder (%ProgramData%\USB IAP tool).
#pragma once

#include "fleet_cli/fleet_cli.h"

namespace iap::fleet_cli {

// Each says what it did, or why it could not, and returns an exit code.
int installService(CliIo& io);
int removeService(CliIo& io);
// Only under the Service Control Manager: until the service is stopped.
int runService(CliIo& io);

}  // namespace iap::fleet_cli
