// Upgrades the reference image (payload 144,608 bytes, block size 256: 565
// blocks, the last of 224 bytes) against the simulated bootloader, (a) with
// no latency and (b) with a full-speed USB timing model, and compares the
// wall time with the floor that the protocol sets: every report costs two
// 1 ms frames (written at one, answered at the next) and every response a
// 1 ms pause; without latency only the pauses remain.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bytes/firmware_image.h"
#include "framed_bus.h"
#include "reference_image.h"
#include "link/connection.h"
#include "package/app_state.h"
#include "sim/sim_bus.h"
#include "upgrade/reporter.h"
#include "upgrade/tool_context.h"
#include "upgrade/upgrade_procedure.h"

namespace {

using namespace iap;
using bench::kBlockSize;
using bench::kPayload;
using bench::QuietStdout;
using bench::referenceImage;


// Texts and progress go nowhere: the result is what IAPProcess returns.
struct SilentReporter : Reporter {
    void postTips(std::string_view) override {}
    void postMsg(std::string_view) override {}
    void postDeviceInfo(uint16_t, uint16_t, uint16_t) override {}
    void setProgress(uint32_t, uint32_t) override {}
};

struct Result {
    double seconds = 0;
    size_t reports = 0;
    size_t responses = 0;
    bool passed = false;
};

Result runOnce(const std::vector<uint8_t>& image, const std::vector<uint8_t>& payload, bool usbTiming) {
    AppState state;
    state.firmware = image;
    DeviceIdEntry entry;
    entry.vendorId = 0x1234;
    entry.productId = 0x5679;
    entry.reportId = 0x01;
    state.deviceIds.push_back(entry);
    state.settings.retryNum = 3;
    state.settings.switchDelay = 500;
    state.settings.searchDeviceTimeout = 1000;
    state.settings.readAckTimeout = 1000;

    sim::SimBus simBus;
    bench::FramedBus framedBus(simBus);
    auto device = simBus.attach();
    device->setTimeScale(0.0);
    if (usbTiming) device->setLatency(std::chrono::microseconds(0), true);

    SilentReporter reporter;
    DeviceConnection connection;
    ToolContext ctx;
    ctx.package = &state;
    ctx.bus = usbTiming ? static_cast<DeviceBus*>(&framedBus) : &simBus;
    ctx.reporter = &reporter;
    ctx.connection = &connection;

    const auto start = std::chrono::steady_clock::now();
    AttemptResult attempt;
    {
        QuietStdout quiet;
        attempt = IAPProcess(ctx);
    }
    const auto end = std::chrono::steady_clock::now();

    Result result;
    result.seconds = std::chrono::duration<double>(end - start).count();
    result.reports = device->outputReports().size();
    result.responses = device->commands().size();
    auto flash = device->flash();
    flash.resize(payload.size());
    result.passed = device->upgradePassed() && flash == payload && attempt.outcome == Outcome::Passed;
    return result;
}

void report(const char* name, const Result& r, double floorSeconds, const char* floorText) {
    std::printf("%s: %s, %.3f s wall; %zu reports, %zu responses; floor %.3f s (%s); ratio %.2f\n", name,
                r.passed ? "PASS" : "FAILED", r.seconds, r.reports, r.responses, floorSeconds, floorText,
                r.seconds / floorSeconds);
}

}  // namespace

int main() {
    std::vector<uint8_t> payload;
    const std::vector<uint8_t> image = referenceImage(payload);
    std::printf("reference image: payload %zu bytes, block size %u\n", payload.size(), kBlockSize);

    Result a = runOnce(image, payload, false);
    for (int i = 0; i < 2; ++i) {
        const Result again = runOnce(image, payload, false);
        if (again.seconds < a.seconds) a = again;
    }
    report("(a) no latency", a, a.responses * 0.001, "1 ms pause per response");

    const Result b = runOnce(image, payload, true);
    report("(b) full-speed USB", b, b.reports * 0.002 + b.responses * 0.001,
           "2 ms per report + 1 ms pause per response");
    return a.passed && b.passed ? 0 : 1;
}
