#include <exception>

#include "pack/pack_commands.h"
#include "pack/pack_options.h"
#include "package/tool_version.h"

namespace iap::pack {

namespace {

// Where `build` finds the bare tool without --exe (IAP_INSTALLED_TOOL,
// relative to usb-iap-pack's folder, comes from the install layout).
#ifdef _WIN32
#define IAP_INSTALLED_TOOL_HELP "usb-iap-tool.exe in the folder of usb-iap-pack.exe"
#else
#define IAP_INSTALLED_TOOL_HELP \
    "<usb-iap-pack's folder>/" IAP_INSTALLED_TOOL "\n          (/usr/lib/usb-iap-tools/usb-iap-tool from the Debian package)"
#endif

const char* const kUsage = R"(usage:
  usb-iap-pack build [--exe IN] --out OUT
                     (--payload BIN [image header options] | --image IMG)
                     --device VID:PID:RID [--device ...]
                     [--retry N] [--reboot-delay N] [--switch-delay N]
                     [--search-timeout MS] [--ack-timeout MS]
                     [--colour I=R,G,B,A ...] [--skin DIR] [--replace]
  usb-iap-pack inspect FILE
  usb-iap-pack skin DIR
  usb-iap-pack --version

build     appends a tool package to the executable IN and writes OUT.
          Without --exe, IN is the bare tool installed with usb-iap-pack:
          )" IAP_INSTALLED_TOOL_HELP R"(.
          --payload builds the 128-byte image header around a raw payload:
            --signature S (8 characters, default USBIAPFW)
            --chip C, --item I (up to 15 characters each)
            --hw-version V1.0.0, --sw-version V1.0.0
            --block-size N (1 to 8192, default 256)
            --device-flags N (header bytes 60-61), --device-word N (106-109)
          --image takes a ready-made firmware image unchanged.
          --device: hexadecimal vendor ID, product ID and report ID; repeat
            for every ID the device may appear under, in search order.
          Settings default to 3, 1000, 1000, 8000 and 5000. Colours 0-9
          default to the standard theme. --skin DIR takes the 19 images
          from DIR (files named by id, as `skin` writes them); without it
          the built-in skin is used. A file that already carries a package
          is refused unless --replace is given.
inspect   prints the package of FILE and checks it as the tool would.
skin      writes the built-in skin's 19 BMP files to DIR.
--version prints the version of usb-iap-pack.
)";

}  // namespace

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        out << "usb-iap-pack " << toolVersion() << "\n";
        return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (args[0] == "build") return buildCommand(rest, out, err);
        if (args[0] == "inspect") return inspectCommand(rest, out, err);
        if (args[0] == "skin") return skinCommand(rest, out, err);
        throw UsageError("unknown command \"" + args[0] + "\"");
    } catch (const UsageError& e) {
        err << "usb-iap-pack: " << e.what() << "\n(usb-iap-pack --help shows the usage)\n";
        return 2;
    } catch (const std::exception& e) {
        err << "usb-iap-pack: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace iap::pack
