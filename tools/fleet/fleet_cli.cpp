#include "fleet_cli/fleet_cli.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "fleet_cli/commands.h"
#include "logging/diagnostics.h"
#include "package/tool_version.h"

namespace iap::fleet_cli {

void StopHub::request() {
    std::function<void()> stop;
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
        stop = stop_;
    }
    if (stop) stop();
}

void StopHub::set(std::function<void()> stop) {
    bool now = false;
    {
        std::lock_guard lock(mutex_);
        stop_ = stop;
        now = requested_;
    }
    if (now && stop) stop();
}

void BrokerArgs::add(CLI::App& app) {
    app.add_option("--broker", broker, "mqtt://HOST[:PORT] or, on Linux, mqtts://HOST[:PORT]")->required();
    app.add_option("--user", user, "the user name at the broker");
    app.add_option("--password-file", passwordFile, "a file whose first line is the password");
    app.add_option("--ca", ca, "the CA certificate file that signs an mqtts:// broker's certificate");
}

fleet::ConnectOptions BrokerArgs::connectOptions() const {
    fleet::ConnectOptions o;
    try {
        o.broker = fleet::parseBrokerUrl(broker);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    o.user = user;
    if (!passwordFile.empty()) {
        if (user.empty()) throw UsageError("--password-file needs --user");
        try {
            o.password = fleet::readPasswordFile(passwordFile);
        } catch (const std::runtime_error& e) {
            throw UsageError(e.what());
        }
    }
    if (!ca.empty()) {
        if (!o.broker.tls) throw UsageError("--ca is for an mqtts:// broker");
        if (!std::ifstream(ca, std::ios::binary)) throw UsageError("cannot read the CA file " + ca);
        o.caFile = ca;
    }
    return o;
}

int runFleetTool(const std::vector<std::string>& args, CliIo& io) {
    // The floors' warnings carry this program's name.
    ChannelScope named(warnings(), [&io](std::string_view text) {
        std::ostringstream line;
        line << "usb-iap-fleet: " << text << '\n';
        io.err << line.str() << std::flush;
    });
    CLI::App app("usb-iap-fleet: every station's upgrade record gathered through an MQTT broker into one store",
                 "usb-iap-fleet");
    app.set_version_flag("--version", "usb-iap-fleet " + std::string(toolVersion()), "the version of usb-iap-fleet");
    // Options are "--name" on every system: CLI11 would otherwise take any word
    // beginning with '/' on Windows (a path as Wine or MSYS gives it) for an
    // option of its own.
    app.allow_windows_style_options(false);
    // A service reads its options from a file: an INI file with a section per
    // command ([ship], [collect]), one option per line without its "--"
    // ("broker = mqtt://host:1883"; a value with spaces in double quotes).
    // A name the command does not take is an error, not ignored.
    app.set_config("--config", "", "a file of options, one per line, in a section per command ([ship], [collect])");
    app.allow_config_extras(CLI::config_extras_mode::error);
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, Runner>> commands;
    auto add = [&](const char* name, const char* what, Runner (*fn)(CLI::App&)) {
        CLI::App* sub = app.add_subcommand(name, what);
        commands.emplace_back(sub, fn(*sub));
    };
    add("ship", "on each station: follows the upgrade records and ships each line once", &addShipCommand);
    add("collect", "at the centre: stores every station's lines, each exactly once", &addCollectCommand);
    add("query", "lists the stored attempts, or the yield per station and day", &addQueryCommand);
    add("broker-config", "a factory's Mosquitto configuration and ACL, printed or written", &addBrokerConfigCommand);
#ifdef _WIN32
    add("service", "install | remove: ship as a Windows service, with the options of fleet.conf", &addServiceCommand);
#endif
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, io.out, io.err);
        return code == 0 ? kOk : kUsage;
    }
    for (auto& [sub, run] : commands) {
        if (!sub->parsed()) continue;
        try {
            return run(io);
        } catch (const UsageError& e) {
            io.err << "usb-iap-fleet " << sub->get_name() << ": " << e.what() << "\n";
            return kUsage;
        } catch (const std::invalid_argument& e) {
            io.err << "usb-iap-fleet " << sub->get_name() << ": " << e.what() << "\n";
            return kUsage;
        } catch (const std::exception& e) {
            io.err << "usb-iap-fleet " << sub->get_name() << ": " << e.what() << "\n";
            return kFailed;
        }
    }
    return kUsage;
}

}  // namespace iap::fleet_cli
