#include "flash/flash_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <fstream>
#include <stdexcept>

#include "fleet/topics.h"
#include "fleet/transport.h"
#include "link/hid_node.h"
#include "package/tool_version.h"

namespace iap::flash {
namespace {

#ifdef _WIN32
#define IAP_TRUST_FOLDER_TEXT "%ProgramData%\\USB IAP tool\\trusted-keys"
#else
#define IAP_TRUST_FOLDER_TEXT "/etc/usb-iap-tools/trusted-keys"
#endif

constexpr const char* kFooter =
    "TOOL is a product's tool file: the tool executable with its package appended.\n"
    "\n"
    "With a trusted key (--trust, or a .pub file in " IAP_TRUST_FOLDER_TEXT "),\n"
    "a package that is unsigned, signed by another key or changed after signing is\n"
    "refused (exit 2) before any device is opened.\n"
    "\n"
    "Exit codes: 0 every selected device passed, 1 any failed, 2 usage or package\n"
    "error, 3 no device was found.";

// What a usage error says, raised after CLI11 has read the words.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The commands and their options. An option of every command that loads a
// TOOL goes into toolOptions.
struct Parser {
    CLI::App app{"usb-iap-flash: upgrades the devices of a product's tool file from a terminal, one or many at once.",
                 "usb-iap-flash"};
    Options o;
    std::string wait;
    std::vector<CLI::App*> commands;

    Parser() {
        app.footer(kFooter);
        // Options are "--name" on every system: CLI11 would otherwise take any word
        // beginning with '/' on Windows (a path as Wine or MSYS gives it) for an
        // option of its own.
        app.allow_windows_style_options(false);
        app.set_version_flag("--version", "usb-iap-flash " + std::string(toolVersion()), "the version of usb-iap-flash");
        app.require_subcommand(0, 1);
        CLI::App* list = command("list", "every attached device that matches the package: path, USB port, VID:PID,\n"
                                         "bcdDevice, serial; a device that cannot be opened with the reason");
        json(list);
        CLI::App* flash = command(
            "flash",
            "upgrades the first matching device, as the window does; with --all every matching\n"
            "device at once, with --port the device on each port given");
        flag(flash, "--all", o.all, "every matching device at once");
        stationOptions(flash);
        flash->add_option("--wait", wait, "wait up to S seconds for devices to arrive (without it: the package's\n"
                                          "search time-out, or for --all only the devices present)")
            ->type_name("S");
        CLI::App* line = command("line", "production line until Ctrl-C: each device is upgraded once it is plugged in");
        stationOptions(line);
        command("udev-rule", "the udev rule that gives the logged-in user access to the package's devices");
    }

    CLI::App* command(const char* name, const char* what) {
        CLI::App* c = app.add_subcommand(name, what);
        c->allow_extras();  // said below in our words
        c->add_option("TOOL", o.tool, "the product's tool file")->type_name("");
        toolOptions(c);
        commands.push_back(c);
        return c;
    }
    void toolOptions(CLI::App* c) {
        flag(c, "--verbose", o.verbose, "the protocol's and the loader's diagnostic lines on standard error");
        c->add_option("--trust", o.trust, "take only packages signed by this key (usb-iap-pack keygen); again for\n"
                                          "more keys. The keys in the system trust folder count too")
            ->type_name("NAME.pub")
            ->allow_extra_args(false);
    }
    void stationOptions(CLI::App* c) {
        c->add_option("--port", o.ports, "the device on USB port P, as list shows it (\"1-4.2\"; on Windows\n"
                                         "\"PCIROOT0_PCI1400-4.2\"); again for more ports")
            ->type_name("P")
            ->allow_extra_args(false);
        flag(c, "--to-boot", o.toBoot, "first switch each device to its bootloader");
        json(c);
        flag(c, "--plain", o.plain, "plain lines, also on a terminal (the default elsewhere)");
        c->add_option("--publish", o.publish, "each port's live state on an MQTT broker (with --site and --station)")
            ->type_name("mqtt://HOST[:PORT]");
        c->add_option("--site", o.site, "the site's name in the topics")->type_name("S");
        c->add_option("--station", o.station, "the station's name in the topics")->type_name("N");
        c->add_option("--user", o.user, "the station's user name at the broker")->type_name("NAME");
        c->add_option("--password-file", o.passwordFile, "a file whose first line is the password")->type_name("FILE");
        c->add_option("--ca", o.caFile, "the CA certificate that signs an mqtts:// broker's certificate")
            ->type_name("FILE");
    }
    static void flag(CLI::App* c, const char* name, bool& value, const char* what) {
        c->add_flag(name, value, what)->disable_flag_override();
    }
    void json(CLI::App* c) { flag(c, "--json", o.json, "one JSON object per line and event"); }

    // The checks of the values, after CLI11 has read the words.
    void check(const CLI::App& c) {
        o.command = c.get_name();
        for (const std::string& word : c.remaining()) {
            if (word == "--") continue;
            if (word.starts_with("-")) {
                throw UsageError(o.command + " takes no option " + word.substr(0, word.find('=')));
            }
            throw UsageError("one TOOL only (\"" + o.tool + "\", then \"" + word + "\")");
        }
        if (o.tool.empty()) throw UsageError(o.command + " needs a TOOL");
        for (const std::string& port : o.ports) {
            if (!isPortChain(port)) {
                throw UsageError("--port \"" + port + "\" is not a USB port chain (as list shows it, like 1-4.2)");
            }
        }
        if (const CLI::Option* given = c.get_option_no_throw("--wait"); given && given->count() > 0) {
            size_t used = 0;
            double seconds = -1;
            try {
                seconds = std::stod(wait, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != wait.size() || !(seconds >= 0) || seconds > 86400) {
                throw UsageError("--wait \"" + wait + "\" is not a number of seconds from 0 to 86400");
            }
            o.waitSeconds = seconds;
        }
        if (o.json && o.plain) throw UsageError("--json and --plain exclude each other");
        checkPublish();
    }
    void checkPublish() {
        if (o.publish.empty()) {
            if (!o.site.empty() || !o.station.empty() || !o.user.empty() || !o.passwordFile.empty() ||
                !o.caFile.empty()) {
                throw UsageError("--site, --station, --user, --password-file and --ca go with --publish");
            }
            return;
        }
        bool tls = false;
        try {
            tls = fleet::parseBrokerUrl(o.publish).tls;
        } catch (const std::invalid_argument& e) {
            throw UsageError(std::string("--publish: ") + e.what());
        }
        if (!o.caFile.empty()) {
            if (!tls) throw UsageError("--ca is for an mqtts:// broker");
            if (!std::ifstream(o.caFile, std::ios::binary)) throw UsageError("cannot read the CA file " + o.caFile);
        }
        if (o.site.empty() || o.station.empty()) throw UsageError("--publish needs --site and --station");
        for (const auto& [option, name] : {std::pair{"--site", &o.site}, std::pair{"--station", &o.station}}) {
            if (!fleet::validName(*name)) {
                throw UsageError(std::string(option) + " \"" + *name +
                                 "\" is not a name of one topic level (no '/', '+' or '#')");
            }
        }
        if (o.passwordFile.empty()) return;
        if (o.user.empty()) throw UsageError("--password-file needs --user");
        try {
            o.password = fleet::readPasswordFile(o.passwordFile);
        } catch (const std::runtime_error& e) {
            throw UsageError(std::string("--password-file: ") + e.what());
        }
    }
};

// CLI11's words for a value missing or given where none is taken, as this
// program has always said them.
std::string sayMismatch(const CLI::App& command, const std::string& what) {
    const std::string name = what.substr(0, what.find_first_of(": "));
    const std::string option = name.starts_with("-") ? name : "--" + name;
    const CLI::Option* known = command.get_option_no_throw(option);
    if (!known) return what;
    return option + (known->get_expected_min() == 0 ? " takes no value" : " needs a value");
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    Parser p;
    CommandLine line;
    const auto helpOf = [&p]() -> const CLI::App& {
        const auto parsed = p.app.get_subcommands();
        return parsed.empty() ? p.app : *parsed.front();
    };
    if (!args.empty() && args[0] == "help") {
        line.out = p.app.help("", CLI::AppFormatMode::All);
        return line;
    }
    const bool known = !args.empty() && std::any_of(p.commands.begin(), p.commands.end(), [&](const CLI::App* c) {
        return c->get_name() == args[0];
    });
    try {
        if (args.empty()) throw UsageError("no command given");
        if (!known && args[0] != "--help" && args[0] != "-h" && args[0] != "--version") {
            throw UsageError("unknown command \"" + args[0] + "\"");
        }
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
        p.app.parse(reversed);
        const auto parsed = p.app.get_subcommands();
        if (parsed.empty()) throw UsageError(args[0] + " is no command");
        p.check(*parsed.front());
        line.options = p.o;
    } catch (const CLI::CallForHelp&) {
        const CLI::App& of = helpOf();
        line.out = of.help("", &of == &p.app ? CLI::AppFormatMode::All : CLI::AppFormatMode::Normal);
    } catch (const CLI::CallForVersion& e) {
        line.out = std::string(e.what()) + "\n";
    } catch (const CLI::ParseError& e) {
        const std::string what = dynamic_cast<const CLI::ArgumentMismatch*>(&e) ? sayMismatch(helpOf(), e.what())
                                                                                : std::string(e.what());
        line.err = "usb-iap-flash: " + what + "\n\n" + helpOf().help();
        line.exitCode = 2;
    } catch (const UsageError& e) {
        line.err = "usb-iap-flash: " + std::string(e.what()) + "\n\n" + helpOf().help();
        line.exitCode = 2;
    }
    return line;
}

}  // namespace iap::flash
