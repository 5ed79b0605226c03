// umockdev_e2e_driver SCRIPT [ARGS...]: holds a umockdev testbed with the
// simulated bootloader behind fake hidraw nodes and runs SCRIPT (bash) as a
// child. The script starts the real tool with libumockdev-preload; the tool
// then finds this testbed through $UMOCKDEV_DIR, and this process answers its
// ioctl, read and write calls on umockdev's thread while the script runs.
//
// The script drives the devices through two FIFOs ($IAP_UMOCK_CTL for a
// command line, $IAP_UMOCK_REPLY for the answer, which starts with "ok" or
// "fail"). Commands:
//   add boot|app [BCD]       the emulated device, in its bootloader or app
//   add-wrong page|report    a device with the right IDs but usage page
//                            0xFF01, or report ID 0x02
//   fault disconnect-data N  the device vanishes at the N-th data block
//   unplug | replug          unplug now / plug again (a new node)
//   wait-mode boot|app S     wait up to S seconds for that mode
//   wait-absent S            wait up to S seconds for the device to go
//   state                    "ok mode=.. pid=.. bcd=.. passed=.. present=.."
//   flash FILE               compare the flash with FILE's bytes
// The exit code is the script's.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulated_device.h"
#include "preload_env.h"
#include "real_bus_rig.h"
#include "testbed.h"

namespace iap::umock {
namespace {

class Driver {
public:
    explicit Driver(Testbed& bed) : bed_(bed) {}

    std::string handle(const std::string& line) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "add") {
            std::string mode;
            unsigned bcd = 0x0100;
            in >> mode >> std::hex >> bcd;
            if (device_) return "fail device exists";
            device_ = std::make_unique<EmulatedDevice>(
                bed_, deviceConfig(mode == "app" ? sim::Mode::Application : sim::Mode::Bootloader,
                                   static_cast<uint16_t>(bcd)),
                0.2);
            return "ok " + device_->nodePath();
        }
        if (cmd == "add-wrong") {
            std::string kind;
            in >> kind;
            UsbHidIdentity id;
            id.productId = kBootProductId;
            id.reportDescriptor = kind == "page" ? descriptorWithUsagePage(0xFF01, kReportId)
                                                 : sim::vendorDescriptor(0x02);
            return "ok " + bed_.plug(id, nullptr).nodePath();
        }
        if (!device_) {
            return "fail no device";
        }
        if (cmd == "fault") {
            std::string kind;
            int n = 0;
            in >> kind >> n;
            device_->addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, 0xA1, n));
            return "ok";
        }
        if (cmd == "unplug") {
            device_->unplug();
            return "ok";
        }
        if (cmd == "replug") {
            device_->replug();
            return "ok " + device_->nodePath();
        }
        if (cmd == "wait-mode" || cmd == "wait-absent") {
            std::string mode;
            double seconds = 0;
            if (cmd == "wait-mode") in >> mode;
            in >> seconds;
            const auto limit = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
            const bool ok = cmd == "wait-absent"
                                ? device_->waitForAbsence(limit)
                                : device_->waitForMode(mode == "app" ? sim::Mode::Application
                                                                     : sim::Mode::Bootloader,
                                                       limit);
            return ok ? "ok" : "fail timed out; " + state();
        }
        if (cmd == "state") {
            return "ok " + state();
        }
        if (cmd == "flash") {
            std::string path;
            in >> path;
            std::ifstream file(path, std::ios::binary);
            const std::vector<uint8_t> want((std::istreambuf_iterator<char>(file)),
                                            std::istreambuf_iterator<char>());
            std::vector<uint8_t> flash = device_->flash();
            if (want.empty() || flash.size() < want.size()) return "fail bad payload file";
            for (size_t i = 0; i < want.size(); ++i) {
                if (flash[i] != want[i]) return "fail flash differs at byte " + std::to_string(i);
            }
            return "ok " + std::to_string(want.size()) + " bytes";
        }
        return "fail unknown command " + cmd;
    }

    void stop() { device_.reset(); }

private:
    std::string state() {
        char text[160];
        std::snprintf(text, sizeof text, "mode=%s pid=%04X bcd=%04X passed=%d present=%d plugs=%zu reports=%zu",
                      device_->mode() == sim::Mode::Application ? "app" : "boot", device_->productId(),
                      device_->bcdDevice(), device_->upgradePassed() ? 1 : 0, device_->present() ? 1 : 0,
                      device_->plugCount(), device_->outputReports());
        return text;
    }

    Testbed& bed_;
    std::unique_ptr<EmulatedDevice> device_;
};

// The two FIFOs stay open read-write in this process for its whole life: no
// open() ever blocks (the preload library serialises every open() of the
// process, so one blocking FIFO open would stop all threads), the script's
// opens never wait, and a reply written before the script reads it stays in
// the FIFO.
class Channel {
public:
    Channel(const std::string& ctl, const std::string& reply)
        : ctl_(::open(ctl.c_str(), O_RDWR | O_CLOEXEC)), reply_(::open(reply.c_str(), O_RDWR | O_CLOEXEC)) {}
    ~Channel() {
        ::close(ctl_);
        ::close(reply_);
    }
    bool ok() const { return ctl_ >= 0 && reply_ >= 0; }

    // The next command line; waits for it.
    std::string next() {
        for (;;) {
            const size_t newline = pending_.find('\n');
            if (newline != std::string::npos) {
                std::string line = pending_.substr(0, newline);
                pending_.erase(0, newline + 1);
                return line;
            }
            pollfd p{ctl_, POLLIN, 0};
            if (::poll(&p, 1, -1) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(ctl_, buf, sizeof buf);
            if (n > 0) pending_.append(buf, static_cast<size_t>(n));
        }
    }
    void answer(const std::string& line) {
        const std::string text = line + "\n";
        (void)::write(reply_, text.data(), text.size());
    }
    void post(const std::string& line) {
        const std::string text = line + "\n";
        (void)::write(ctl_, text.data(), text.size());
    }

private:
    int ctl_;
    int reply_;
    std::string pending_;
};

int run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SCRIPT [ARGS...]\n", argv[0]);
        return 2;
    }
    // With the preload library this process's libudev sees the testbed too,
    // which the uevents of plug and unplug need.
    if (!Testbed::preloadActive()) {
        return reexecWithPreload(argv) != 0 ? 2 : 0;
    }
    useTestTmpDir();
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    Testbed bed;
    const std::string ctl = bed.rootDir() + "/iap-ctl";
    const std::string reply = bed.rootDir() + "/iap-reply";
    if (::mkfifo(ctl.c_str(), 0600) != 0 || ::mkfifo(reply.c_str(), 0600) != 0) {
        std::perror("mkfifo");
        return 2;
    }
    ::setenv("IAP_UMOCK_CTL", ctl.c_str(), 1);
    ::setenv("IAP_UMOCK_REPLY", reply.c_str(), 1);
    ::setenv("IAP_UMOCK_PRELOAD", "libumockdev-preload.so.0", 1);

    Channel channel(ctl, reply);
    if (!channel.ok()) {
        std::perror("open FIFO");
        return 2;
    }
    Driver driver(bed);
    std::thread commands([&] {
        for (std::string line = channel.next(); line != "quit"; line = channel.next()) {
            if (!line.empty()) channel.answer(driver.handle(line));
        }
    });

    const pid_t child = ::fork();
    if (child == 0) {
        // Nothing of the testbed's (PTY masters, sockets) goes to the child.
        ::close_range(3, ~0U, 0);
        // The script's own programs (Xvfb, xdotool) run outside the testbed;
        // it starts the tool with $IAP_UMOCK_PRELOAD.
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("IAP_UMOCK_REEXEC");
        std::vector<char*> args;
        args.push_back(const_cast<char*>("bash"));
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("bash", args.data());
        std::perror("exec bash");
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    channel.post("quit");
    commands.join();
    driver.stop();
    ::unlink(ctl.c_str());
    ::unlink(reply.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace
}  // namespace iap::umock

int main(int argc, char** argv) { return iap::umock::run(argc, argv); }
