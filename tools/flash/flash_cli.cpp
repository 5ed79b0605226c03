#include "flash/flash_cli.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <random>
#include <set>

#include "bytes/firmware_image.h"
#include "bytes/hex.h"
#include "flash/flash_options.h"
#include "flash/live_output.h"
#include "flash/outputs.h"
#include "link/device_list.h"
#include "link/hid_node.h"
#include "link/shared_bus.h"
#include "logging/diagnostics.h"
#include "logging/logging.h"
#include "package/package_loader.h"
#include "package/tool_version.h"
#include "package/trust.h"

namespace iap::flash {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Loads what an upgrade needs of the tool file's package, which the window
// would load too; false (said on err) when there is none to use. With a
// trusted key (given, or in the system trust folder) only a package signed
// by one is used.
bool loadTool(const std::string& tool, const std::vector<std::string>& given, UpgradeContent& content,
              std::ostream& err) {
    TrustedKeys trust;
    try {
        trust = loadTrustedKeys({given.begin(), given.end()}, systemTrustFolder());
    } catch (const std::exception& e) {
        err << "usb-iap-flash: " << e.what() << "\n";
        return false;
    }
    try {
        if (!fs::is_regular_file(tool)) {
            err << "usb-iap-flash: " << tool << ": not a file\n";
            return false;
        }
        if (const std::string problem = LoadUpgradeContent(tool, content, trust); !problem.empty()) {
            err << "usb-iap-flash: " << tool << ": no usable tool package: " << problem << "\n";
            return false;
        }
    } catch (const std::exception& e) {
        err << "usb-iap-flash: " << tool << ": " << e.what() << "\n";
        return false;
    }
    return true;
}

std::string toolNameOf(const std::string& tool) { return fs::path(tool).filename().string(); }

constexpr const char* kPermissionHint =
    "Permission denied: the udev rule that `usb-iap-flash udev-rule TOOL` prints gives the\n"
    "logged-in user access (see the README, \"Device access\").\n";

int listCommand(const Options& o, const UpgradeContent& state, FlashIo& io) {
    SharedBus bus(io.bus);
    bus.init();
    const std::vector<ListedDevice> devices = listDevices(bus, state.deviceIds);
    bus.exit();
    bool permission = false;
    size_t notReady = 0;
    if (o.json) {
        for (const ListedDevice& d : devices) {
            Event e;
            e.kind = EventKind::Found;
            e.port = portKey(d.info);
            e.device = d.info;
            e.ready = d.ready;
            e.problem = d.problem;
            io.out << jsonLine(e) << "\n";
        }
    } else {
        std::vector<std::vector<std::string>> table = {{"PATH", "PORT", "VID:PID", "BCD", "SERIAL", "STATE"}};
        for (const ListedDevice& d : devices) {
            table.push_back({d.info.path, d.info.portChain.empty() ? "-" : d.info.portChain,
                             hexText(d.info.vendorId, 4) + ":" + hexText(d.info.productId, 4),
                             hexText(d.info.releaseNumber, 4), d.info.serialNumber.empty() ? "-" : d.info.serialNumber,
                             d.ready ? "ready" : "cannot be opened: " + d.problem.reason});
        }
        std::vector<size_t> widths(table[0].size(), 0);
        for (const auto& row : table) {
            for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
        }
        if (!devices.empty()) {
            for (const auto& row : table) {
                std::string line;
                for (size_t c = 0; c < row.size(); ++c) {
                    line += row[c];
                    if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
                }
                io.out << line << "\n";
            }
        }
    }
    for (const ListedDevice& d : devices) {
        notReady += d.ready ? 0 : 1;
        permission = permission || d.problem.permission;
    }
    if (devices.empty()) io.err << "usb-iap-flash: no attached device matches the package of " << o.tool << "\n";
    if (permission) io.err << kPermissionHint;
    io.out.flush();
    if (devices.empty()) return 3;
    return notReady > 0 ? 1 : 0;
}

// A client ID of its own for each run, so that two runs never push each
// other off the broker.
std::string clientIdOf(const std::string& station) {
    std::random_device random;
    return "usb-iap-flash-" + station.substr(0, 40) + "-" + hexText(random() & 0xFFFFFF, 6);
}

int stationCommand(const Options& o, const UpgradeContent& state, FlashIo& io) {
    std::unique_ptr<fleet::LiveBoard> board;  // outlives the output that posts to it
    std::unique_ptr<Output> output;
    if (o.json) {
        output = makeJsonOutput(io.out);
    } else if (io.terminal && !o.plain) {
        const ImageHeaderView header = readImageHeader(state.firmware);
        output = makeBoardOutput(io.out, io.width,
                                 {o.command, toolNameOf(o.tool), static_cast<uint32_t>(header.actualPayloadLength),
                                  header.swVersion});
    } else {
        output = makePlainOutput(io.out);
    }
    if (!o.publish.empty()) {
        const ImageHeaderView header = readImageHeader(state.firmware);
        fleet::LiveBoardOptions live{o.site, o.station, fleet::parseBrokerUrl(o.publish), clientIdOf(o.station), o.user,
                                     o.password, o.caFile};
        board = std::make_unique<fleet::LiveBoard>(fleet::makeMqttTransport(), live);
        const fleet::LineState line{true, std::string(toolVersion()), toolNameOf(o.tool), header.swVersion};
        try {
            board->start(line);
        } catch (const std::exception& e) {
            io.err << "usb-iap-flash: --publish " << o.publish << ": " << e.what() << "\n";
            return 2;
        }
        output = makeLiveOutput(std::move(output), *board, line);
    }
    // Warnings (the log's folder, a record not written) become events of the output.
    const ChannelScope warningEvents(warnings(), [&output](std::string_view text) {
        Event e;
        e.kind = EventKind::Warning;
        e.text = std::string(text);
        output->emit(e);
    });
    UpgradeRecord* record = io.startLog ? io.startLog() : nullptr;
    if (record) record->setSigner(state.signer);
    SharedBus bus(io.bus);
    bus.init();
    const station::Station station{state, toolNameOf(o.tool), bus, *output, record, io.stop, io.timing, o.toBoot, o.ports};
    station::Tally tally;
    if (o.command == "line") {
        tally = station::runLine(station);
    } else {
        milliseconds wait(state.settings.searchDeviceTimeout);
        if (o.all && o.ports.empty()) wait = milliseconds(0);
        if (o.waitSeconds) wait = milliseconds(static_cast<long long>(*o.waitSeconds * 1000.0 + 0.5));
        if (!o.ports.empty()) tally = station::flashPorts(station, wait);
        else if (o.all) tally = station::flashAll(station, wait);
        else tally = station::flashFirst(station, wait);
    }
    bus.exit();
    const int code = station::exitCodeOf(tally);
    Event summary;
    summary.kind = EventKind::Summary;
    summary.passed = tally.passed;
    summary.failed = tally.failed;
    summary.exitCode = code;
    output->emit(summary);
    output->finish();
    if (code == 3) io.err << "usb-iap-flash: no device of the package of " << o.tool << " was found\n";
    if (io.stop.requested()) io.err << "usb-iap-flash: interrupted\n";
    return code;
}

}  // namespace

std::function<UpgradeRecord*()> windowLog(std::unique_ptr<UpgradeRecord>& record) {
    return [&record] {
        createMainLogger();
        record = std::make_unique<UpgradeRecord>(defaultRecordPath());
        return record.get();
    };
}

std::string udevRule(const std::vector<DeviceIdEntry>& entries, const std::string& toolName) {
    std::string name;
    for (char c : toolName) name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '-';
    std::string rule =
        "# usb-iap-flash: access for the logged-in user to the devices of " + toolName + ",\n"
        "# as HID nodes (hidraw) and as USB devices (usb). Save this as\n"
        "#   /etc/udev/rules.d/70-usb-iap-" + name + ".rules\n"
        "# (before 73-seat-late.rules, which applies uaccess), then run\n"
        "#   sudo udevadm control --reload-rules && sudo udevadm trigger\n"
        "# and plug the devices in again.\n";
    std::set<std::pair<uint16_t, uint16_t>> done;
    const auto lower = [](uint16_t v) {
        std::string t = hexText(v, 4);
        std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::tolower(c); });
        return t;
    };
    for (const DeviceIdEntry& e : entries) {
        if (!done.insert({e.vendorId, e.productId}).second) continue;
        const std::string vid = lower(e.vendorId), pid = lower(e.productId);
        rule += "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"" + vid + "\", ATTRS{idProduct}==\"" + pid +
                "\", TAG+=\"uaccess\"\n";
        rule += "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"" + vid + "\", ATTR{idProduct}==\"" + pid +
                "\", TAG+=\"uaccess\"\n";
    }
    return rule;
}

int runFlashTool(const std::vector<std::string>& args, FlashIo& io) {
    const CommandLine line = parseCommandLine(args);
    io.out << line.out;
    io.err << line.err;
    if (!line.options) return line.exitCode;
    const std::optional<Options>& options = line.options;
    // The floors' diagnostic lines: nowhere, or with --verbose on the error stream.
    LineWriter toErr = [&io](std::string_view line) {
        io.err << line;
        io.err.flush();
    };
    const ChannelScope quiet(diagnostics(), options->verbose ? toErr : nullptr);
    const ChannelScope warningLines(warnings(), [&io](std::string_view text) {
        io.err << "usb-iap-flash: warning: " << text << "\n";
        io.err.flush();
    });
    UpgradeContent state;
    if (!loadTool(options->tool, options->trust, state, io.err)) return 2;
    if (options->command == "udev-rule") {
        io.out << udevRule(state.deviceIds, toolNameOf(options->tool));
        return 0;
    }
    if (options->command == "list") return listCommand(*options, state, io);
    return stationCommand(*options, state, io);
}

}  // namespace iap::flash
