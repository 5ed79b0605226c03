// Placeholder until the store lands.
#include "fleet_cli/commands.h"
namespace iap::fleet_cli {
Runner addCollectCommand(CLI::App&) { return [](CliIo&) { return kFailed; }; }
Runner addQueryCommand(CLI::App&) { return [](CliIo&) { return kFailed; }; }
}  // namespace iap::fleet_cli
