// usb-iap-flash's station on the full-speed USB timing model (framed_bus.h),
// in one run: one device, eight devices at once on one hub, thirty-two at
// once on four hubs of eight (a gang station) and 127 at once (as many as
// one USB host addresses, on hubs of eight), each upgraded with the
// reference image (payload 144,608 bytes, block size 256). One device is
// compared with the wire floor (2 ms per report, 1 ms pause per response);
// the runs of many devices with one; and one with the serial line of the
// window's auto-start: eight upgrades one after the other with a 2 s pause
// between two. The CPU time of the process during the runs of many devices
// is reported as a share of one core. Each figure is the best of three runs,
// as other processes on the machine only ever add time.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <streambuf>
#include <cstdio>
#include <string>
#include <vector>

#include "bytes/firmware_image.h"
#include "flash/outputs.h"
#include "link/shared_bus.h"
#include "logging/diagnostics.h"
#include "framed_bus.h"
#include "reference_image.h"
#include "sim/sim_bus.h"
#include "station/station.h"

namespace {

using namespace iap;
using bench::kBlockSize;
using bench::kPayload;
using bench::referenceImage;

constexpr double kAutoStartPause = 2.0;

// Takes the JSON lines and drops them, as a pipe to a fast reader would.
class Discard : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Run {
    double wall = 0;
    double cpu = 0;
    size_t reports = 0;    // of one device
    size_t responses = 0;  // of one device
    int passed = 0;        // devices that passed with the payload in their flash
};

Run upgradeAtOnce(const UpgradeContent& tool, const std::vector<uint8_t>& payload, int count) {
    sim::SimBus simBus;
    bench::FramedBus framed(simBus);
    std::vector<std::shared_ptr<sim::SimDevice>> devices;
    for (int i = 0; i < count; ++i) {
        auto device = std::make_shared<sim::SimDevice>();
        device->setPortChain("1-" + std::to_string(i / 8 + 1) + "." + std::to_string(i % 8 + 1));  // hubs of eight
        device->setTimeScale(0.0);
        device->setLatency(std::chrono::microseconds(0), true);
        simBus.attach(device);
        devices.push_back(device);
    }
    // What usb-iap-flash --all --json does besides: its JSON lines and the
    // upgrade record's line per device (in a folder of its own).
    StopSignal stop;
    SharedBus bus(framed);
    Discard discard;
    std::ostream lines(&discard);
    const std::unique_ptr<station::Output> output = flash::makeJsonOutput(lines);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("iap-flash-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    UpgradeRecord record(folder / kUpgradeRecordName);
    const station::Station station{tool, "bench", bus, *output, &record, stop, {}, false, {}};

    Run run;
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    station::Tally tally;
    {
        const ChannelScope quiet(diagnostics(), nullptr);  // as usb-iap-flash runs without --verbose
        tally = station::flashAll(station, std::chrono::milliseconds(0));
    }
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = cpuSeconds() - cpuBefore;
    run.reports = devices[0]->outputReports().size();
    run.responses = devices[0]->commands().size();
    for (auto& device : devices) {
        std::vector<uint8_t> flash = device->flash();
        flash.resize(payload.size());
        run.passed += device->upgradePassed() && flash == payload ? 1 : 0;
    }
    if (tally.passed != run.passed) run.passed = -1;
    std::filesystem::remove_all(folder);
    return run;
}

}  // namespace

int main() {
    std::vector<uint8_t> payload;
    UpgradeContent tool;
    tool.firmware = referenceImage(payload);
    tool.deviceIds = {{0x01, 0x5679, 0x1234}};
    tool.settings = {3, 1000, 500, 1000, 1000};
    std::printf("reference image: payload %zu bytes, block size %u; full-speed USB timing model\n", payload.size(),
                kBlockSize);

    const auto best = [&](int count) {
        Run run = upgradeAtOnce(tool, payload, count);
        int fewest = run.passed;  // a run in which a device failed counts against all three
        for (int i = 0; i < 2; ++i) {
            const Run again = upgradeAtOnce(tool, payload, count);
            fewest = std::min(fewest, again.passed);
            if (again.wall < run.wall) run = again;
        }
        run.passed = fewest;
        return run;
    };
    const Run one = best(1);
    const double floor = one.reports * 0.002 + one.responses * 0.001;
    std::printf("one device:    %d/1 passed, %.3f s wall; %zu reports, %zu responses; wire floor %.3f s; "
                "ratio %.3f (limit 1.02)\n",
                one.passed, one.wall, one.reports, one.responses, floor, one.wall / floor);

    const Run eight = best(8);
    std::printf("eight at once: %d/8 passed, %.3f s wall; ratio to one device %.3f (limit 1.10)\n", eight.passed,
                eight.wall, eight.wall / one.wall);
    std::printf("CPU during the eight-device run: %.3f s user+system in %.3f s wall = %.1f%% of one core\n",
                eight.cpu, eight.wall, 100.0 * eight.cpu / eight.wall);
    const double serial = 8 * one.wall + 7 * kAutoStartPause;
    std::printf("serial line (8 upgrades + 7 pauses of 2 s): %.3f s; eight at once is %.1fx faster\n", serial,
                serial / eight.wall);

    const Run many = best(32);
    std::printf("thirty-two at once (four hubs of eight): %d/32 passed, %.3f s wall; ratio to one device %.3f "
                "(goal 1.05)\n",
                many.passed, many.wall, many.wall / one.wall);
    std::printf("CPU during the thirty-two-device run: %.3f s user+system in %.3f s wall = %.1f%% of one core\n",
                many.cpu, many.wall, 100.0 * many.cpu / many.wall);

    const Run full = best(127);
    std::printf("127 at once (one USB host's address space, hubs of eight): %d/127 passed, %.3f s wall; ratio to "
                "one device %.3f (goal 1.05)\n",
                full.passed, full.wall, full.wall / one.wall);
    std::printf("CPU during the 127-device run: %.3f s user+system in %.3f s wall = %.1f%% of one core\n", full.cpu,
                full.wall, 100.0 * full.cpu / full.wall);

    const bool ok = one.passed == 1 && eight.passed == 8 && many.passed == 32 && full.passed == 127 &&
                    one.wall / floor <= 1.02 && eight.wall / one.wall <= 1.10 && many.wall / one.wall <= 1.05 &&
                    full.wall / one.wall <= 1.05;
    std::printf("%s\n", ok ? "within every limit" : "OUTSIDE A LIMIT");
    return ok ? 0 : 1;
}
