// usb-iap-fleet --config: the options of a service's file, one per line in a
// section per command, as the command line would give them; what the file
// gets wrong is said, not ignored.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fleet_cli/fleet_cli.h"

namespace iap::fleet_cli {
namespace {

TEST(FleetConfigFile, OptionsComeFromTheCommandsSectionAndTheCommandLineWins) {
    const std::filesystem::path file = std::filesystem::path(testing::TempDir()) / "fleet.conf";
    const struct {
        std::string conf;
        std::vector<std::string> extra;  // after "broker-config"
        int code;
        std::string out, err;  // texts the output and the errors hold
    } cases[] = {
        {"[broker-config]\nsite = plant1\nmqtt-port = 1999\n", {}, kOk, "listener 1999", ""},
        // Notepad's CR LF, a comment, a quoted value with a space and a backslash
        {"# the factory's broker\r\n[broker-config]\r\nsite = plant1\r\n"
         "board-dir = \"/srv/USB IAP tool\\board\"\r\n",
         {}, kOk, "http_dir /srv/USB IAP tool\\board\n", ""},
        {"[broker-config]\nsite = plant1\nmqtt-port = 1999\n", {"--mqtt-port", "2000"}, kOk, "listener 2000", ""},
        // another command's section is no concern of this one
        {"[ship]\nstation = pc1\n[broker-config]\nsite = plant1\n", {}, kOk, "site plant1", ""},
        {"[broker-config]\nsite = plant1\nmqtt-prot = 1999\n", {}, kUsage, "", "broker-config.mqtt-prot"},
        {"[broker-config]\nsite = plant1\nmqtt-port = many\n", {}, kUsage, "", "many"},
        {"[broker-config]\n", {}, kUsage, "", "--site is required"},
        {"site = plant1\n", {}, kUsage, "", "site"},
        {"", {}, kUsage, "", "/no/such/fleet.conf"},  // no file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.conf);
        std::ofstream(file, std::ios::binary) << c.conf;
        std::ostringstream out, err;
        StopHub stop;
        CliIo io{out, err, stop};
        std::vector<std::string> args{"--config", c.conf.empty() ? "/no/such/fleet.conf" : file.string(),
                                      "broker-config"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(runFleetTool(args, io), c.code) << err.str();
        EXPECT_NE(out.str().find(c.out), std::string::npos) << out.str();
        EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    }
}

}  // namespace
}  // namespace iap::fleet_cli
