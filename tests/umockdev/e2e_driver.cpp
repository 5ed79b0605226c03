// umockdev_e2e_driver SCRIPT [ARGS...]: holds a umockdev testbed with the
// simulated bootloader behind fake hidraw nodes and runs SCRIPT (bash) as a
// child. The script starts the real tool with libumockdev-preload
// ($IAP_UMOCK_PRELOAD); the tool then finds this testbed through
// $UMOCKDEV_DIR, and this process answers its ioctl, read and write calls on
// umockdev's thread while the script runs.
//
// The script sends one command line to fd 3 and reads the answer, which
// starts with "ok" or "fail", from fd 4. Device commands act on the device
// added last, or on device K (0-based, in the order added) after "on K":
//   add boot|app [BCD]       another emulated device, in its bootloader or
//                            app, on a port and with a serial number (SIM0001,
//                            ...) of its own: "ok K /dev/hidrawN"
//   add-wrong page|report    a device with the bootloader's IDs but usage
//                            page 0xFF01, or report ID 0x02
//   fault N                  the device vanishes at data block N (from 0)
//   status N CODE            data block N is answered with status CODE (hex)
//   unplug                   the device leaves (until replug)
//   replug                   plug it again (a new node)
//   wait boot|app|absent S   wait up to S seconds for that mode, or absence
//   state                    "ok mode=.. pid=.. bcd=.. passed=.. plugs=.."
//   flash FILE               compare the flash with FILE's bytes
//   wine                     for clients under Wine 8: devices added from now
//                            on answer 1 ms after an output report; the
//                            testbed in Wine mode (Testbed::setWineMode)
//   settle S                 wait up to S seconds until no device restarts:
//                            "ok N", N the devices (of add) plugged
//   clear                    every device leaves; the next one added is 0
// The exit code is the script's.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulated_device.h"
#include "testbed.h"

namespace iap::umock {
namespace {

class Driver {
public:
    explicit Driver(Testbed& bed) : bed_(bed) {}

    std::string handle(const std::string& line) {
        std::istringstream in(line);
        std::string cmd, word;
        in >> cmd;
        size_t index = devices_.size() - 1;
        if (cmd == "on") in >> index >> cmd;
        in >> word;
        if (cmd == "add") {
            unsigned bcd = 0x0100;
            in >> std::hex >> bcd;
            const sim::Mode mode = word == "app" ? sim::Mode::Application : sim::Mode::Bootloader;
            sim::BootloaderConfig config = deviceConfig(mode, static_cast<uint16_t>(bcd));
            // A serial number of its own, as real boards have: Wine names a
            // device by it, and a device that takes the name of one just
            // removed can meet that one's leftovers.
            char serial[16];
            std::snprintf(serial, sizeof serial, "SIM%04u", ++serials_);
            config.serialNumber = serial;
            devices_.push_back(std::make_unique<EmulatedDevice>(bed_, config, 0.2));
            devices_.back()->setReplyLatency(replyLatency_);
            return "ok " + std::to_string(devices_.size() - 1) + " " + devices_.back()->state().node;
        }
        if (cmd == "add-wrong") {
            UsbHidIdentity id;
            id.productId = kBootProductId;
            id.reportDescriptor = word == "page" ? descriptorWithUsagePage(0xFF01) : sim::vendorDescriptor(0x02);
            bed_.awaitChange(false);
            wrong_.push_back(&bed_.plug(id, nullptr));
            return "ok " + wrong_.back()->nodePath();
        }
        if (cmd == "wine") {
            // Wine 8's HID class driver can miss a report that comes just as
            // a read starts (pdo_read looks at its queue, then queues the
            // read, with no lock over both): answers come later, as from an
            // interrupt endpoint, not while the output report is written.
            replyLatency_ = std::chrono::microseconds(1000);
            bed_.setWineMode(true);
            return "ok";
        }
        if (cmd == "settle") {
            const auto limit = std::chrono::milliseconds(static_cast<long>(std::stod(word) * 1000));
            size_t present = 0;
            for (auto& device : devices_) {
                if (!device->waitForRest(limit)) return "fail timed out; " + state(*device);
                present += device->state().node.empty() ? 0 : 1;
            }
            return "ok " + std::to_string(present);
        }
        if (cmd == "clear") {
            stop();
            return "ok";
        }
        if (index >= devices_.size()) return "fail no such device";
        EmulatedDevice& device = *devices_[index];
        if (cmd == "fault") {
            device.addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, 0xA1, std::stoi(word)));
            return "ok";
        }
        if (cmd == "status") {
            unsigned code = 0;
            in >> std::hex >> code;
            device.addFault(sim::Fault::statusAt(0xA1, static_cast<uint8_t>(code), std::stoi(word)));
            return "ok";
        }
        if (cmd == "unplug") {
            device.unplug();
            return "ok";
        }
        if (cmd == "replug") {
            device.replug();
            return "ok " + device.state().node;
        }
        if (cmd == "wait") {
            double seconds = 0;
            in >> seconds;
            const auto limit = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
            const bool ok = word == "absent" ? device.waitForAbsence(limit)
                                             : device.waitForMode(word == "app" ? sim::Mode::Application
                                                                                : sim::Mode::Bootloader,
                                                                  limit);
            return ok ? "ok" : "fail timed out; " + state(device);
        }
        if (cmd == "state") return "ok " + state(device);
        if (cmd == "flash") {
            std::ifstream file(word, std::ios::binary);
            const std::vector<uint8_t> want((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            const std::vector<uint8_t> flash = device.state().flash;
            if (want.empty() || flash.size() < want.size()) return "fail bad payload file";
            const auto diff = std::mismatch(want.begin(), want.end(), flash.begin()).first - want.begin();
            if (diff != static_cast<long>(want.size())) return "fail flash differs at byte " + std::to_string(diff);
            return "ok " + std::to_string(want.size()) + " bytes";
        }
        return "fail unknown command " + cmd;
    }

    void stop() {
        devices_.clear();
        for (FakeHidraw* node : wrong_) {
            bed_.awaitChange(true);
            bed_.unplug(*node);
        }
        wrong_.clear();
    }

private:
    static std::string state(EmulatedDevice& device) {
        const EmulatedDevice::State s = device.state();
        char text[128];
        std::snprintf(text, sizeof text, "mode=%s pid=%04X bcd=%04X passed=%d plugs=%zu node=%s",
                      s.mode == sim::Mode::Application ? "app" : "boot", s.productId, s.bcdDevice,
                      s.upgradePassed ? 1 : 0, s.plugs, s.node.empty() ? "-" : s.node.c_str());
        return text;
    }

    Testbed& bed_;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    std::vector<FakeHidraw*> wrong_;  // the devices of add-wrong
    unsigned serials_ = 0;
    std::chrono::microseconds replyLatency_{0};
};

void writeLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size());
}

int run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SCRIPT [ARGS...]\n", argv[0]);
        return 2;
    }
    // With the preload library this process's libudev sees the testbed too,
    // which the uevents of plug and unplug need.
    if (enterTestbedProcess(argv) != 0) return 2;
    std::signal(SIGPIPE, SIG_IGN);
    Testbed bed;
    ::setenv("IAP_UMOCK_PRELOAD", "libumockdev-preload.so.0", 1);

    // Pipes, not FIFOs: the preload library serialises every open() of this
    // process, so one blocking FIFO open would stop all its threads.
    int ctl[2], reply[2];
    if (::pipe2(ctl, O_CLOEXEC) != 0 || ::pipe2(reply, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        return 2;
    }
    Driver driver(bed);
    std::thread commands([&] {
        FILE* in = ::fdopen(ctl[0], "r");
        char* line = nullptr;
        size_t size = 0;
        for (ssize_t n; (n = ::getline(&line, &size, in)) > 0;) {
            const std::string text(line, static_cast<size_t>(n) - (line[n - 1] == '\n' ? 1 : 0));
            if (text == "quit") break;
            if (text.empty()) continue;
            try {
                writeLine(reply[1], driver.handle(text));
            } catch (const std::exception& e) {  // a malformed number, a failed plug
                writeLine(reply[1], std::string("fail ") + e.what());
            }
        }
        std::free(line);
        std::fclose(in);
    });

    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        // The script's ends as fds 3 and 4 (moved clear of them first), and
        // nothing of the testbed's (PTY masters, sockets).
        if (::dup2(ctl[1], 100) < 0 || ::dup2(reply[0], 101) < 0 || ::dup2(100, 3) < 0 || ::dup2(101, 4) < 0) {
            ::_exit(127);
        }
        ::close_range(5, ~0U, 0);
        // The script's own programs (Xvfb, xdotool) run outside the testbed.
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("IAP_UMOCK_REEXEC");
        std::vector<char*> args{const_cast<char*>("bash")};
        args.insert(args.end(), argv + 1, argv + argc);
        args.push_back(nullptr);
        ::execvp("bash", args.data());
        std::perror("exec bash");
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    writeLine(ctl[1], "quit");
    commands.join();
    driver.stop();
    ::close(ctl[1]);
    ::close(reply[0]);
    ::close(reply[1]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace
}  // namespace iap::umock

int main(int argc, char** argv) { return iap::umock::run(argc, argv); }
