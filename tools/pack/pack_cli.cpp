#include <exception>
#include <iterator>

#include "pack/pack_commands.h"
#include "pack/pack_options.h"
#include "pack/pack_subcommand.h"
#include "package/tool_version.h"

namespace iap::pack {

namespace {

// The subcommands, in the order --help lists them. A new one is a file
// with its add function, declared in pack_subcommand.h and listed here.
constexpr AddCommand kCommands[] = {addBuildCommand, addInspectCommand, addSkinCommand,
                                    addKeygenCommand, addSignCommand, addVerifyCommand};

bool isCommand(const CLI::App& app, const std::string& name) {
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (sub->get_name() == name) return true;
    }
    return false;
}

// CLI11's text, except an option without its value, which reads as it
// always has: "--out needs a value".
std::string parseErrorText(const CLI::ParseError& e) {
    const std::string text = e.what();
    const size_t colon = text.find(": ");
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && text.rfind("--", 0) == 0 && colon != std::string::npos &&
        text.find(" required ") != std::string::npos && text.size() > 8 && text.ends_with(" missing")) {
        return text.substr(0, colon) + " needs a value";
    }
    return text;
}

}  // namespace

void refuseExtras(const CLI::App& sub) {
    const std::vector<std::string> extras = sub.remaining();
    if (!extras.empty()) throw UsageError("unknown option \"" + extras.front() + "\"");
}

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app("Makes, inspects and skins the tool of a product for USB IAP firmware upgrades.",
                 "usb-iap-pack");
    app.set_help_flag("-h,--help", "print this help; after a command, that command's options");
    // Options are "--name" on every system: CLI11 would otherwise take any word
    // beginning with '/' on Windows (a path as Wine or MSYS gives it) for an
    // option of its own.
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    bool version = false;
    app.add_flag("--version", version, "print the version of usb-iap-pack");
    CommandIo io{out, err};
    for (AddCommand add : kCommands) add(app, io);
    // Set after the commands are added, so that they do not inherit it.
    app.footer("usb-iap-pack COMMAND --help lists the options of that command.\n"
               "Exit status: 0 on success, 1 for a bad input or a file that cannot be read or\n"
               "written, 2 for a command line that cannot be understood.");

    if (args.empty()) {
        err << app.help();
        return 2;
    }
    try {
        if (args[0] == "help") throw CLI::CallForHelp();
        if (args[0].rfind('-', 0) != 0 && !isCommand(app, args[0])) {
            throw UsageError("unknown command \"" + args[0] + "\"");
        }
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
        app.parse(reversed);
        if (version) {
            out << "usb-iap-pack " << toolVersion() << "\n";
            return 0;
        }
        if (app.get_subcommands().empty()) throw UsageError("no command given");
        return io.status;
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        err << "usb-iap-pack: " << parseErrorText(e) << "\n(usb-iap-pack --help shows the usage)\n";
        return 2;
    } catch (const UsageError& e) {
        err << "usb-iap-pack: " << e.what() << "\n(usb-iap-pack --help shows the usage)\n";
        return 2;
    } catch (const std::exception& e) {
        err << "usb-iap-pack: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace iap::pack
