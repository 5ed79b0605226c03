// usb-iap-flash on the simulated bus: many devices at once, each on its own
// thread and connection; selection by port; the switch to boot with devices
// that come back on a new node, or without a port under another path; the
// line mode's once-per-plug-in rule; Ctrl-C; list, the udev rule and the exit
// codes. Every JSON line is read back with jq.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "link/shared_bus.h"
#include "package/package_loader.h"
#include "sim/sim_fault.h"
#include "support/flash_rig.h"
#include "support/sim_rig.h"

namespace iap {
namespace {

using namespace std::chrono_literals;
using test::FlashRig;
using test::waitFor;
using Lines = std::vector<std::string>;

constexpr uint8_t kToBoot = 0xC0, kHeader = 0xA0, kData = 0xA1;

Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// How often the JSON lines so far told that state of the port ("*": of any port).
size_t stateLines(FlashRig& rig, const std::string& port, const std::string& state) {
    std::istringstream lines(rig.outText.text());
    size_t n = 0;
    for (std::string line; std::getline(lines, line);) {
        const auto e = nlohmann::json::parse(line, nullptr, false);  // the last line may be still partial
        n += !e.is_discarded() && e.value("event", "") == "state" && (port == "*" || e.value("port", "") == port) &&
                     e.value("state", "") == state
                 ? 1
                 : 0;
    }
    return n;
}

// Waits until the port's state was told that often.
bool told(FlashRig& rig, const std::string& port, const char* state, size_t times = 1) {
    return waitFor([&] { return stateLines(rig, port, state) >= times; }, 10s);
}

// Waits for that many more looks at the bus.
bool moreLooks(FlashRig& rig, size_t looks) {
    const size_t from = rig.bus.enumerations();
    return waitFor([&] { return rig.bus.enumerations() >= from + looks; }, 10s);
}

TEST(FlashAll, EightDevicesAtOnceOneUnpluggedMidUpgradeFailsAlone) {
    FlashRig rig;
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    for (int i = 1; i <= 8; ++i) {
        devices.push_back(rig.plug("1-4." + std::to_string(i)));
        devices.back()->setLatency(1ms);  // long enough for every upgrade to overlap the others
    }
    devices[4]->addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, kData, 10));

    EXPECT_EQ(rig.run("flash", {"--all", "--json"}), 1);
    Lines expected;
    for (int i = 1; i <= 8; ++i) {
        expected.push_back("1-4." + std::to_string(i) +
                           (i == 5 ? " failed read-failed hid_get_report failed" : " passed null PASS"));
    }
    EXPECT_EQ(sorted(rig.jq(R"jq(select(.event=="result" and .final) | "\(.port) \(.outcome) \(.failure) \(.text)")jq")),
              expected);
    EXPECT_EQ(rig.jq(R"jq(select(.event=="summary") | "\(.passed) \(.failed) \(.exit_code)")jq"), Lines{"7 1 1"});
    EXPECT_EQ(rig.jq(R"jq(select(.event=="found") | "\(.vid):\(.pid) \(.bcd_device) \(.serial)")jq"),
              Lines(8, "1234:5679 0100 SIM0001"));
    // Progress of each passed device up to its last figure, which the result repeats.
    EXPECT_EQ(rig.jq(R"jq(select(.event=="result" and .outcome=="passed") | "\(.bytes) \(.total)")jq"),
              Lines(7, "6000 6000"));
    for (const std::string& line : rig.jq(R"jq(select(.event=="progress") | "\(.bytes <= .total) \(.percent <= 100)")jq")) {
        EXPECT_EQ(line, "true true");
    }

    std::vector<sim::TrafficRecord> first, last;
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(devices[i]->openHandles(), 0u);
        EXPECT_EQ(devices[i]->upgradePassed(), i != 4);
        if (i != 4) {
            EXPECT_EQ(rig.flashOf(*devices[i]), rig.payload);
        }
        const auto traffic = devices[i]->traffic();
        first.push_back(traffic.front());
        last.push_back(traffic.back());
    }
    // At once: every device had begun before any had ended.
    const auto began = std::max_element(first.begin(), first.end(), [](auto& a, auto& b) { return a.time < b.time; });
    const auto ended = std::min_element(last.begin(), last.end(), [](auto& a, auto& b) { return a.time < b.time; });
    EXPECT_LT(began->time, ended->time);

    const Lines record = rig.recordLines();
    ASSERT_EQ(record.size(), 9u);  // the header row and one line per device
    EXPECT_EQ(std::count_if(record.begin(), record.end(),
                            [](const std::string& l) { return l.find(",upgrade,passed,PASS,0x00,1234,5679,0100,SIM0001,") != std::string::npos; }),
              7);
    EXPECT_EQ(std::count_if(record.begin(), record.end(),
                            [](const std::string& l) { return l.find(",upgrade,failed,hid_get_report failed,") != std::string::npos; }),
              1);
}

TEST(FlashSelection, PortsFirstDeviceAndAllChooseTheDevicesAndTheExitCode) {
    const struct {
        const char* name;
        Lines args;
        int code;
        std::vector<bool> upgraded;  // devices on 1-4.1 .. 1-4.4
    } cases[] = {
        {"two ports", {"--port", "1-4.2", "--port", "1-4.4"}, 0, {false, true, false, true}},
        {"a port left empty", {"--port", "1-4.2", "--port=1-9", "--wait", "0.2"}, 1, {false, true, false, false}},
        {"only empty ports", {"--port", "1-9", "--wait=0.2"}, 3, {false, false, false, false}},
        {"the first device, as the window", {}, 0, {true, false, false, false}},
        {"every device", {"--all"}, 0, {true, true, true, true}},
        {"every device, on one port", {"--all", "--port", "1-4.3"}, 0, {false, false, true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig;
        std::vector<std::shared_ptr<sim::SimDevice>> devices;
        for (int i = 1; i <= 4; ++i) devices.push_back(rig.plug("1-4." + std::to_string(i)));
        Lines args = c.args;
        args.push_back("--json");
        EXPECT_EQ(rig.run("flash", args), c.code) << rig.errText.text();
        EXPECT_EQ(rig.jq(R"jq(select(.event=="summary") | .exit_code)jq"), Lines{std::to_string(c.code)});
        for (size_t i = 0; i < devices.size(); ++i) {
            EXPECT_EQ(devices[i]->upgradePassed(), c.upgraded[i]) << i;
            EXPECT_EQ(FlashRig::commandsOf(*devices[i], kHeader), c.upgraded[i] ? 1u : 0u) << i;
        }
        if (c.code != 0) {
            EXPECT_EQ(rig.jq(R"jq(select(.event=="result" and .outcome=="open-failed") | "\(.port) \(.text)")jq"),
                      Lines{"1-9 Open Failed!"});
        }
    }
    FlashRig empty;
    EXPECT_EQ(empty.run("flash", {"--all", "--plain"}), 3);
    EXPECT_EQ(empty.outText.text(), "passed 0, failed 0\n");
}

// Threads that each search their own port share their looks at the bus:
// it is listed about once a poll, not once a poll per thread (hidapi walks
// every device of the system for each listing).
TEST(FlashPorts, ThreadsSearchingTheirPortsListTheBusAboutOnceAPoll) {
    FlashRig rig;  // a look every 10 ms
    Lines args = {"--json", "--wait", "0.5"};
    for (int i = 1; i <= 32; ++i) args.insert(args.end(), {"--port", "1-4." + std::to_string(i)});
    const size_t before = rig.bus.enumerations();
    EXPECT_EQ(rig.run("flash", args), 3);
    EXPECT_LT(rig.bus.enumerations() - before, 200u);  // 32 threads on their own: 1,600
}

TEST(FlashToBoot, DevicesThatRestartOnANewNodeAreMatchedBackByPort) {
    FlashRig rig;
    const bool inApp[] = {true, false, true, false};
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    for (int i = 0; i < 4; ++i) {
        devices.push_back(rig.plug("1-4." + std::to_string(i + 1), inApp[i] ? sim::Mode::Application : sim::Mode::Bootloader));
    }
    EXPECT_EQ(rig.run("flash", {"--all", "--to-boot", "--json"}), 0) << rig.outText.text();
    for (int i = 0; i < 4; ++i) {
        const std::string port = "1-4." + std::to_string(i + 1);
        SCOPED_TRACE(port);
        const std::string sel = R"(select(.port==")" + port + R"("))";
        EXPECT_EQ(rig.jq(sel + R"jq( | select(.event=="result") | "\(.procedure) \(.outcome) \(.final)")jq"),
                  (Lines{"to-boot passed false", "upgrade passed true"}));
        // Found twice: for the switch, and for the upgrade on the node it has then.
        const Lines found = rig.jq(sel + R"jq( | select(.event=="found") | "\(.pid) \(.path)")jq");
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[0].substr(0, 4), inApp[i] ? "5678" : "5679");
        EXPECT_EQ(found[1].substr(0, 4), "5679");
        EXPECT_EQ(found[0] != found[1], inApp[i]) << "a device that stays keeps its node";
        EXPECT_EQ(rig.flashOf(*devices[i]), rig.payload);
        EXPECT_EQ(FlashRig::commandsOf(*devices[i], kToBoot), 1u);
        EXPECT_EQ(FlashRig::commandsOf(*devices[i], kHeader), 1u);
        // No command met the application: the upgrade waited for the bootloader.
        for (const auto& command : devices[i]->commands()) EXPECT_EQ(command.status, 0) << int(command.code);
    }
    const Lines record = rig.recordLines();
    EXPECT_EQ(std::count_if(record.begin(), record.end(),
                            [](const std::string& l) { return l.find(",to-boot,passed,PASS,") != std::string::npos; }),
              4);
}

// A board without a port (Wine gives no USB location), in its application.
std::shared_ptr<sim::SimDevice> portless(FlashRig& rig, const std::string& serial,
                                         sim::Mode mode = sim::Mode::Application) {
    auto board = std::make_shared<sim::SimDevice>(sim::BootloaderConfig{.serialNumber = serial, .mode = mode});
    board->setPortKnown(false);
    rig.bus.attach(board);
    return board;
}

// Without a port a device is keyed by its path and comes back from the switch
// under another: followed by its serial number, else as the one new device.
// Another device without a port that cannot be told from it: neither is
// taken. With --wait neither the bootloader nor the restarted board is new.
TEST(FlashToBoot, DevicesWithoutAPortAreFollowedBySerialNumberOrAsTheOneNewDevice) {
    const struct {
        const char* name;
        Lines serials;         // one board each
        const char* stranger;  // a bootloader plugged in while the first board switches
        Lines args;
        bool upgraded;  // each board
    } cases[] = {
        {"two boards told apart by serial number", {"SN-A", "SN-B"}, nullptr, {"--all"}, true},
        {"a serial number, another device without one", {"SN-A"}, "", {}, true},
        {"a serial number, another device with it", {"SN-A"}, "SN-A", {}, false},
        {"no serial number, another device", {""}, "", {}, false},
        {"no serial number, waiting for more", {""}, nullptr, {"--all", "--wait", "1"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlashRig rig;
        std::vector<std::shared_ptr<sim::SimDevice>> boards;
        Lines keys;  // their paths before the switch
        for (const std::string& serial : c.serials) {
            boards.push_back(portless(rig, serial));
            keys.push_back(boards.back()->path());
        }
        Lines args = c.args;
        args.insert(args.end(), {"--to-boot", "--json"});
        rig.start("flash", args);
        if (c.stranger) {
            ASSERT_TRUE(waitFor([&] { return FlashRig::commandsOf(*boards[0], kToBoot) == 1; }, 10s));
            portless(rig, c.stranger, sim::Mode::Bootloader);
        }
        EXPECT_EQ(rig.join(), c.upgraded ? 0 : 1) << rig.outText.text();
        for (size_t i = 0; i < boards.size(); ++i) {
            EXPECT_EQ(rig.jq(R"(select(.port==")" + keys[i] + R"jq(" and .event=="result") | "\(.procedure) \(.outcome)")jq"),
                      (Lines{"to-boot passed", c.upgraded ? "upgrade passed" : "upgrade open-failed"}));
            EXPECT_EQ(FlashRig::commandsOf(*boards[i], kHeader), c.upgraded ? 1u : 0u);  // this board, once
        }
    }
}

TEST(LineMode, EachPlugInIsUpgradedOnceAndAReplugAgain) {
    FlashRig rig;
    rig.start("line", {"--json"});
    const auto seen = [&](const std::string& port, const std::string& state, size_t times) {
        return told(rig, port, state.c_str(), times);
    };
    // Boards whose bootloader starts at power-on, plugged one after another.
    std::vector<std::shared_ptr<sim::SimDevice>> boards;
    for (const std::string port : {"1-3", "1-4.1", "1-4.2"}) {
        auto board = std::make_shared<sim::SimDevice>();
        board->setPortChain(port);
        board->setPowerOnMode(sim::Mode::Bootloader);
        rig.bus.attach(board);
        boards.push_back(board);
        // Upgraded, restarted into its application (which the package lists
        // too) and still there: done, and not upgraded again.
        ASSERT_TRUE(seen(port, "done", 1)) << rig.outText.text();
        EXPECT_EQ(boards.back()->mode(), sim::Mode::Application);
    }
    std::this_thread::sleep_for(100ms);  // a few more looks at the bus
    for (auto& board : boards) EXPECT_EQ(FlashRig::commandsOf(*board, kHeader), 1u);

    rig.bus.detach(boards[1]);
    ASSERT_TRUE(seen("1-4.1", "waiting", 1));
    rig.bus.attach(boards[1]);
    ASSERT_TRUE(seen("1-4.1", "done", 2));
    rig.stop.request();
    EXPECT_EQ(rig.join(), 0);
    EXPECT_EQ(FlashRig::commandsOf(*boards[0], kHeader), 1u);
    EXPECT_EQ(FlashRig::commandsOf(*boards[1], kHeader), 2u);
    EXPECT_EQ(FlashRig::commandsOf(*boards[2], kHeader), 1u);
    for (auto& board : boards) EXPECT_EQ(rig.flashOf(*board), rig.payload);
    EXPECT_EQ(rig.jq(R"jq(select(.event=="result") | "\(.port) \(.outcome)")jq"),
              (Lines{"1-3 passed", "1-4.1 passed", "1-4.2 passed", "1-4.1 passed"}));
    EXPECT_EQ(rig.jq(R"jq(select(.event=="summary") | "\(.passed) \(.failed) \(.exit_code)")jq"), Lines{"4 0 0"});
    EXPECT_EQ(rig.jq(R"jq(select(.port=="1-4.1" and .event=="state") | .state)jq"),
              (Lines{"upgrading", "restarting", "done", "waiting", "upgrading", "restarting", "done"}));
}

// In line mode too a board without a port is followed across its switch to
// boot and as it restarts into its new firmware: it is upgraded once per
// plug-in. Two such boards restarting together are not taken for new ones.
TEST(LineMode, BoardsWithoutAPortAreUpgradedOncePerPlugIn) {
    for (const auto& [toBoot, serial] : {std::pair{true, "SN-A"}, {false, ""}}) {
        SCOPED_TRACE(std::string(toBoot ? "--to-boot, " : "") + (*serial ? "a serial number" : "none"));
        FlashRig rig;
        rig.start("line", toBoot ? Lines{"--to-boot", "--json"} : Lines{"--json"});
        auto board = portless(rig, serial, toBoot ? sim::Mode::Application : sim::Mode::Bootloader);
        if (!toBoot) board->setPowerOnMode(sim::Mode::Bootloader);  // as plugged in again
        const std::string key = board->path();
        ASSERT_TRUE(told(rig, key, "done")) << rig.outText.text();
        ASSERT_TRUE(moreLooks(rig, 20));
        EXPECT_EQ(FlashRig::commandsOf(*board, kHeader), 1u);
        rig.bus.detach(board);
        ASSERT_TRUE(told(rig, key, "waiting"));
        rig.bus.attach(board);  // plugged in again: another path, upgraded again
        ASSERT_TRUE(told(rig, board->path(), "done"));
        EXPECT_EQ(FlashRig::commandsOf(*board, kHeader), 2u);
        rig.stop.request();
        EXPECT_EQ(rig.join(), 0);
        EXPECT_EQ(rig.jq(R"jq(select(.port==")jq" + key + R"jq(" and .event=="state") | .state)jq"),
                  toBoot ? (Lines{"to-boot", "restarting", "upgrading", "restarting", "done", "waiting"})
                         : (Lines{"upgrading", "restarting", "done", "waiting"}));
    }
    FlashRig rig;
    rig.start("line", {"--json"});
    auto first = portless(rig, "", sim::Mode::Bootloader), second = portless(rig, "", sim::Mode::Bootloader);
    ASSERT_TRUE(waitFor([&] { return stateLines(rig, "*", "done") == 2; }, 10s))
        << rig.outText.text();
    ASSERT_TRUE(moreLooks(rig, 20));
    rig.stop.request();
    EXPECT_EQ(rig.join(), 0);
    EXPECT_EQ(FlashRig::commandsOf(*first, kHeader), 1u);
    EXPECT_EQ(FlashRig::commandsOf(*second, kHeader), 1u);
}

TEST(Interrupt, StopEndsEveryDeviceAtOnceClosedAndRecordedInterrupted) {
    // Devices that stop answering; each read would wait a minute.
    FlashRig rig(6000, {3, 1000, 100, 1000, 60000});
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    for (int i = 1; i <= 3; ++i) {
        devices.push_back(rig.plug("1-4." + std::to_string(i)));
        devices.back()->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, kData, 3));
    }
    rig.start("flash", {"--all", "--json"});
    ASSERT_TRUE(waitFor([&] {
        return std::all_of(devices.begin(), devices.end(), [](auto& d) { return FlashRig::commandsOf(*d, kData) == 4; });
    }, 10s));
    const auto stopped = std::chrono::steady_clock::now();
    rig.stop.request();
    EXPECT_EQ(rig.join(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 30s) << "well before a read's own time-out";
    EXPECT_EQ(rig.jq(R"jq(select(.event=="result") | "\(.outcome) \(.failure) \(.text)")jq"),
              Lines(3, "interrupted interrupted interrupted"));
    for (auto& d : devices) EXPECT_EQ(d->openHandles(), 0u);
    const Lines record = rig.recordLines();
    ASSERT_EQ(record.size(), 4u);
    for (size_t i = 1; i < record.size(); ++i) {
        EXPECT_NE(record[i].find(",upgrade,interrupted,"), std::string::npos);
        EXPECT_NE(record[i].find(",interrupted,1-4."), std::string::npos) << record[i];  // failure, port
    }
}

TEST(ListAndRule, DevicesOfThePackageWithWhyOneCannotBeOpened) {
    FlashRig rig;
    rig.plug("1-4.1");
    auto locked = rig.plug("1-4.2");
    locked->setOpenFails(true);
    rig.plug("1-4.3")->setDescriptor({0x06, 0x01, 0x00, 0x85, 0x01, 0xC0});  // another interface
    auto other = std::make_shared<sim::SimDevice>(sim::BootloaderConfig{.vendorId = 0x4321});
    rig.bus.attach(other);

    EXPECT_EQ(rig.run("list"), 1);
    const std::string out = rig.outText.text();
    EXPECT_EQ(occurrences(out, "\n"), 3u) << out;  // heads and two devices
    EXPECT_NE(out.find("1-4.1  1234:5679  0100  SIM0001  ready"), std::string::npos) << out;
    EXPECT_NE(out.find("1-4.2  1234:5679  0100  SIM0001  cannot be opened: Permission denied"), std::string::npos);
    EXPECT_NE(rig.errText.text().find("usb-iap-flash udev-rule TOOL"), std::string::npos);

    FlashRig json;
    json.plug("1-4.1");
    json.plug("1-4.2")->setOpenFails(true);
    EXPECT_EQ(json.run("list", {"--json"}), 1);
    EXPECT_EQ(json.jq(R"jq("\(.event) \(.port) \(.ready) \(.problem) \(.permission)")jq"),
              (Lines{"found 1-4.1 true null false", "found 1-4.2 false Permission denied true"}));
    // Flashing every device: the one that cannot be opened fails with the reason.
    EXPECT_EQ(json.run("flash", {"--all", "--json"}), 1);
    EXPECT_EQ(sorted(json.jq(R"jq(select(.event=="result") | "\(.port) \(.outcome) \(.failure) \(.text) \(.problem)")jq")),
              (Lines{"1-4.1 passed null PASS null", "1-4.2 open-failed open-failed Open Failed! Permission denied"}));
    const Lines record = json.recordLines();  // both attempts
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(std::count_if(record.begin(), record.end(),
                            [](const std::string& l) { return l.find(",upgrade,open-failed,Open Failed!,,") != std::string::npos; }),
              1);

    rig.bus.detach(locked);
    EXPECT_EQ(rig.run("list"), 0);
    rig.bus.detach(rig.bus.devices().front());
    EXPECT_EQ(rig.run("list"), 3);

    EXPECT_EQ(rig.run("udev-rule"), 0);
    const std::string rule = rig.outText.text().substr(rig.outText.text().find("# usb-iap-flash: access"));
    Lines rules;
    std::istringstream in(rule);
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l[0] != '#') rules.push_back(l);
    }
    EXPECT_EQ(rules, (Lines{R"jq(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1234", ATTRS{idProduct}=="5679", TAG+="uaccess")jq",
                            R"jq(SUBSYSTEM=="usb", ATTR{idVendor}=="1234", ATTR{idProduct}=="5679", TAG+="uaccess")jq",
                            R"jq(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1234", ATTRS{idProduct}=="5678", TAG+="uaccess")jq",
                            R"jq(SUBSYSTEM=="usb", ATTR{idVendor}=="1234", ATTR{idProduct}=="5678", TAG+="uaccess")jq"}));
    EXPECT_NE(rule.find("/etc/udev/rules.d/70-usb-iap-product-tool.rules"), std::string::npos);
}

TEST(Usage, BadCommandLinesAndToolsExitWith2AndTouchNoDevice) {
    FlashRig rig;
    auto device = rig.plug("1-4.1");
    const std::string tool = rig.tool.string();
    const std::string bare = (rig.dir / "bare").string();
    test::writeBytes(bare, test::fakeExecutable(3000));
    const struct {
        Lines args;
        std::string says;
    } cases[] = {
        {{}, "no command given"},
        {{"frob", tool}, "unknown command \"frob\""},
        {{"flash"}, "flash needs a TOOL"},
        {{"flash", tool, tool}, "one TOOL only"},
        {{"flash", tool, "--port"}, "--port needs a value"},
        {{"flash", tool, "--port", "1.4.2"}, "is not a USB port chain"},
        {{"flash", tool, "--wait", "-1"}, "is not a number of seconds"},
        {{"flash", tool, "--wait", "2s"}, "is not a number of seconds"},
        {{"flash", tool, "--all=yes"}, "--all takes no value"},
        {{"line", tool, "--all"}, "line takes no option --all"},
        {{"list", tool, "--to-boot"}, "list takes no option --to-boot"},
        {{"flash", tool, "--json", "--plain"}, "exclude each other"},
        {{"flash", (rig.dir / "missing").string()}, "not a file"},
        {{"flash", bare}, "no usable tool package: no package"},
        {{"flash", tool, "--wait"}, "--wait needs a value"},
        {{"flash", "--port=1-4.1", tool, "--port=1-4.2", "--all", "--plain=1"}, "--plain takes no value"},
        {{"line", tool, "--publish", "mqtt://localhost"}, "--publish needs --site and --station"},
        {{"line", tool, "--publish", "http://h", "--site", "s", "--station", "n"}, "give mqtt://HOST[:PORT]"},
        {{"flash", tool, "--publish", "mqtt://h:1883", "--site", "a/b", "--station", "n"}, "\"a/b\" is not a name"},
        {{"line", tool, "--station", "n"}, "--site, --station, --user, --password-file and --ca go with --publish"},
        {{"line", tool, "--user", "n"}, "go with --publish"},
        {{"line", tool, "--publish", "mqtt://h", "--site", "s", "--station", "n", "--password-file", tool}, "--password-file needs --user"},
        {{"line", tool, "--publish", "mqtt://h", "--site", "s", "--station", "n", "--user", "n", "--password-file",
          (rig.dir / "missing").string()}, "cannot read the password file"},
        {{"line", tool, "--publish", "mqtt://h", "--site", "s", "--station", "n", "--ca", tool}, "--ca is for an mqtts://"},
        {{"line", tool, "--publish", "mqtts://h", "--site", "s", "--station", "n", "--ca", (rig.dir / "missing").string()},
         "cannot read the CA file"},
        {{"list", tool, "--publish", "mqtt://h"}, "list takes no option --publish"},
    };
    for (const auto& c : cases) {
        test::SharedText outText, errText;
        std::ostream out(&outText), err(&errText);
        flash::FlashIo io{rig.bus, out, err, rig.stop, nullptr};
        EXPECT_EQ(flash::runFlashTool(c.args, io), 2) << c.says;
        EXPECT_NE(errText.text().find(c.says), std::string::npos) << errText.text();
    }
    EXPECT_TRUE(device->commands().empty());
    EXPECT_EQ(device->openCount(), 0u);
}

// The floors' diagnostic lines reach the error stream only with --verbose,
// never standard output; a warning (here: a record that cannot be written)
// reaches the output as its own event.
TEST(Diagnostics, OnlyWithVerboseAndWarningsAsEvents) {
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "--json --verbose" : "--plain");
        FlashRig rig;
        rig.plug("1-4.1");
        UpgradeRecord nowhere(rig.dir / "no-such-folder" / "upgrade-record.csv");
        flash::FlashIo io{rig.bus, rig.out, rig.err, rig.stop, [&] { return &nowhere; }, false, 80, rig.timing};
        Lines args = {"flash", rig.tool.string(), verbose ? "--json" : "--plain"};
        if (verbose) args.push_back("--verbose");
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(flash::runFlashTool(args, io), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        const std::string err = rig.errText.text();
        EXPECT_EQ(occurrences(err, "IAP status:"), verbose ? 54u : 0u) << err;
        EXPECT_EQ(occurrences(err, "report ID:01\n"), verbose ? 1u : 0u);
        const std::string warning = "cannot write the upgrade record " + nowhere.file().string() +
                                    ": No such file or directory";
        if (verbose) {
            EXPECT_EQ(rig.jq(R"jq(select(.event=="warning") | "\(.port) \(.text)")jq"), Lines{"null " + warning});
        } else {
            EXPECT_EQ(occurrences(rig.outText.text(), "warning: " + warning + "\n"), 1u) << rig.outText.text();
        }
    }
}

// A coordinator that fails while its devices run (here: its output throws)
// stops and joins every device thread before the exception leaves it.
TEST(Station, ACoordinatorThatThrowsStopsAndJoinsEveryDevice) {
    FlashRig rig(6000, {3, 1000, 100, 1000, 60000});  // each read would wait a minute
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    for (int i = 1; i <= 3; ++i) {
        devices.push_back(rig.plug("1-4." + std::to_string(i)));
        devices.back()->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, kData, 3));
    }
    struct FailingOutput : station::Output {
        std::vector<std::shared_ptr<sim::SimDevice>>& devices;
        explicit FailingOutput(std::vector<std::shared_ptr<sim::SimDevice>>& d) : devices(d) {}
        void emit(const station::Event&) override {}
        void tick() override {  // once every device waits for an answer
            const auto waiting = [](auto& d) { return FlashRig::commandsOf(*d, kData) == 4; };
            if (std::all_of(devices.begin(), devices.end(), waiting)) throw std::runtime_error("the terminal went away");
        }
    } output(devices);
    UpgradeContent content;
    ASSERT_EQ(LoadUpgradeContent(rig.tool, content), "");
    SharedBus bus(rig.bus);
    const auto started = std::chrono::steady_clock::now();
    const station::Station st{content, "tool", bus, output, nullptr, rig.stop, rig.timing};
    EXPECT_THROW(station::flashAll(st, 0ms), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "well before a read's own time-out";
    for (auto& d : devices) EXPECT_EQ(d->openHandles(), 0u);
}

// In line mode a board swapped in while the port is "restarting" is a new
// board when the serial numbers tell so, and is upgraded at once; without
// serial numbers it is taken for the board restarting, as ever.
TEST(LineMode, ASwapWhileRestartingIsUpgradedWhenTheSerialNumbersDiffer) {
    for (const bool serials : {true, false}) {
        SCOPED_TRACE(serials ? "serial numbers" : "no serial numbers");
        FlashRig rig;
        rig.timing.returnMargin = 10min;  // the swap is well inside the window
        std::shared_ptr<sim::SimDevice> boards[2];
        for (const int i : {0, 1}) {
            const std::string serial = serials ? "SN-" + std::to_string(i) : "";
            boards[i] = std::make_shared<sim::SimDevice>(sim::BootloaderConfig{.serialNumber = serial});
            boards[i]->setPortChain("1-4.1");
            boards[i]->setPowerOnMode(sim::Mode::Bootloader);
        }
        rig.bus.attach(boards[0]);
        rig.start("line", {"--json"});
        ASSERT_TRUE(told(rig, "1-4.1", "restarting"));
        rig.bus.detach(boards[0]);
        rig.bus.attach(boards[1]);
        ASSERT_TRUE(serials ? told(rig, "1-4.1", "restarting", 2) : moreLooks(rig, 10));
        rig.stop.request();
        EXPECT_EQ(rig.join(), 0);
        EXPECT_EQ(rig.jq(R"jq(select(.event=="result") | "\(.port) \(.outcome) \(.serial)")jq"),
                  serials ? (Lines{"1-4.1 passed SN-0", "1-4.1 passed SN-1"}) : Lines{"1-4.1 passed "});
    }
}

}  // namespace
}  // namespace iap
