// The station's tests: a tool file with a package for the simulated devices,
// the simulated bus, usb-iap-flash run on it with its output captured, and
// jq to read the JSON lines back.
#pragma once

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "flash/flash_cli.h"
#include "sim/sim_bus.h"
#include "support/test_packages.h"
#include "upgrade/upgrade_record.h"

namespace iap::test {

// An ostream that several threads may write to while another reads it.
class SharedText : public std::streambuf {
public:
    std::string text() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_ += traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(s, static_cast<size_t>(n));
        return n;
    }

private:
    std::mutex mutex_;
    std::string text_;
};

struct FlashRig {
    // Devices 1234:5679 (bootloader) and 1234:5678 (application), report ID
    // 1; by default switchDelay 100 ms, the searches and reads give up after 1 s.
    explicit FlashRig(size_t payloadSize = 6000, Settings settings = {3, 1000, 100, 1000, 1000})
        : payload(fakeExecutable(payloadSize)) {
        for (uint8_t& b : payload) b = static_cast<uint8_t>(b * 7 + 3);
        Package package = testPackage();
        ImageHeaderFields fields;
        fields.blockSize = 256;
        fields.swVersion = "V2.3.4";
        package.firmware = buildFirmwareImage(fields, payload);
        package.deviceIds = {{0x01, 0x5679, 0x1234}, {0x01, 0x5678, 0x1234}};
        package.settings = settings;
        writeBytes(tool, withPackage(fakeExecutable(3000), package));
        timing.poll = std::chrono::milliseconds(10);
        timing.leaveMargin = std::chrono::milliseconds(200);
        timing.returnMargin = std::chrono::milliseconds(300);
        timing.openGrace = std::chrono::milliseconds(50);
    }

    // A device on that port, answering at once, in its bootloader or application.
    std::shared_ptr<sim::SimDevice> plug(const std::string& port, sim::Mode mode = sim::Mode::Bootloader) {
        auto device = std::make_shared<sim::SimDevice>(sim::BootloaderConfig{.mode = mode});
        device->setPortChain(port);
        bus.attach(device);
        return device;
    }

    // usb-iap-flash COMMAND TOOL args...; the captured output grows as it
    // runs.
    int run(const std::string& command, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {command, tool.string()});
        flash::FlashIo io{*target, out, err, stop, [this] { return &record; }, false, 80, timing};
        return flash::runFlashTool(args, io);
    }

    // Runs the command on a thread of its own; stopped and joined at the
    // latest when the rig goes.
    void start(const std::string& command, std::vector<std::string> args = {}) {
        background = std::thread([this, command, args] { backgroundCode = run(command, args); });
    }
    int join() {
        if (background.joinable()) background.join();
        return backgroundCode;
    }
    ~FlashRig() {
        stop.request();
        join();
    }

    // `jq -r FILTER` over the JSON lines written so far, one result per line;
    // a line that does not parse fails the test.
    std::vector<std::string> jq(const std::string& filter) {
        const std::filesystem::path file = dir / "out.jsonl";
        const std::string text = outText.text();
        writeBytes(file, std::vector<uint8_t>(text.begin(), text.end()));
        const std::string command = "jq -r '" + filter + "' " + file.string() + " 2>&1";
        std::vector<std::string> lines;
        FILE* pipe = ::popen(command.c_str(), "r");
        char line[4096];
        while (pipe && std::fgets(line, sizeof line, pipe)) {
            std::string l(line);
            if (!l.empty() && l.back() == '\n') l.pop_back();
            lines.push_back(l);
        }
        const int status = pipe ? ::pclose(pipe) : -1;
        EXPECT_EQ(status, 0) << "jq " << filter << ":\n" << (lines.empty() ? "" : lines.back()) << "\n" << text;
        return lines;
    }

    std::vector<std::string> recordLines() {
        const std::vector<uint8_t> bytes = readBytes(recordFile);
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    // The device's flash cut to the payload's length.
    std::vector<uint8_t> flashOf(sim::SimDevice& device) const {
        std::vector<uint8_t> flash = device.flash();
        flash.resize(payload.size());
        return flash;
    }
    // How often the device was sent a command.
    static size_t commandsOf(sim::SimDevice& device, uint8_t code) {
        size_t n = 0;
        for (const auto& c : device.commands()) n += c.code == code ? 1 : 0;
        return n;
    }

    TempDir dir;
    std::vector<uint8_t> payload;
    std::filesystem::path tool = dir / "product-tool";
    std::filesystem::path recordFile = dir / "upgrade-record.csv";
    UpgradeRecord record{recordFile};
    sim::SimBus bus;
    DeviceBus* target = &bus;  // the bus the commands run on
    StopSignal stop;
    station::StationTiming timing;
    SharedText outText, errText;
    std::ostream out{&outText}, err{&errText};
    std::thread background;
    int backgroundCode = -1;
};

}  // namespace iap::test
