#include "upgrade/procedure.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>

#include "bytes/firmware_image.h"
#include "link/status_codes.h"
#include "logging/logging.h"

namespace iap {
namespace {

constexpr const char* kOpenDevice = "Open Device...";
constexpr const char* kOpenFailed = "Open Failed!";
constexpr const char* kOpenSuccess = "Open Success! BOOT";
constexpr const char* kPass = "PASS";
constexpr const char* kTimeout = "Timeout error, please try again.";

// Closes the device record when the run leaves, whatever the way out.
class DeviceCloser {
public:
    explicit DeviceCloser(DeviceRecord& record) : record_(record) {}
    ~DeviceCloser() { record_.close(); }
    DeviceCloser(const DeviceCloser&) = delete;
    DeviceCloser& operator=(const DeviceCloser&) = delete;

private:
    DeviceRecord& record_;
};

void log(const ProcedureScript::Line& line, std::string_view text) {
    if (line.text) basic_logger->info(fmt::runtime(line.text), text);
}

// One moment of the run: its log line and its events in the script's order.
void say(Reporter& reporter, const ProcedureScript::Line& line, std::string_view text, bool withMessage) {
    if (line.beforeEvents) log(line, text);
    reporter.postTips(text);
    if (withMessage) reporter.postMsg(text);
    if (!line.beforeEvents) log(line, text);
}

AttemptResult finish(Reporter& reporter, const ProcedureScript::Line& line, AttemptResult result) {
    say(reporter, line, result.text, true);
    return result;
}

std::string deviceErrorText(int32_t status) {
    // Fits: 49 characters with code and line breaks plus a message of at most 28.
    char text[128] = {};
    const unsigned code = static_cast<unsigned>(status);
    std::snprintf(text, sizeof text, "Upgrade error, please try again.\nError code:0x%02X\n%s", code,
                  statusMessage(code).c_str());
    return text;
}

AttemptResult runAttempt(const ProcedureScript& script, const ProcedureRun& run, const DeviceOpener& open) {
    Reporter& reporter = run.reporter;
    AttemptResult result;

    // A firmware image the engine cannot run is reported before any device
    // is looked for: no device could take it.
    if (std::string problem = firmwareEngineProblem(run.firmware); !problem.empty()) {
        result.outcome = Outcome::Refused;
        result.failure = Failure::Refused;
        result.text = std::move(problem);
        return finish(reporter, script.refused, std::move(result));
    }

    say(reporter, script.openDevice, kOpenDevice, false);
    DeviceRecord& record = run.connection.record;
    if (!open(record)) {
        result.text = kOpenFailed;
        result.failure = run.exitRequested.requested() ? Failure::Interrupted : Failure::NotFound;
        say(reporter, script.openFailed, kOpenFailed, false);
        return result;
    }
    DeviceCloser closer(record);
    result.device = record.info;
    say(reporter, script.openSuccess, kOpenSuccess, false);

    std::optional<IAPEngine> engine;
    try {
        const Settings& s = run.settings;
        engine.emplace(run.connection, run.firmware, imageBlockSize(run.firmware),
                       static_cast<int32_t>(s.retryNum), static_cast<int32_t>(s.readAckTimeout),
                       static_cast<uint16_t>(s.switchDelay & 0xFFFF),
                       [&reporter, &script](IAPEngine& e) { script.onProgress(reporter, e); });
        while (!run.exitRequested.requested()) {
            if (!((*engine).*script.step)()) break;
        }
    } catch (const std::exception& e) {
        result.outcome = Outcome::Failed;
        result.failure = run.exitRequested.requested() ? Failure::Interrupted : failureOf(e);
        result.text = e.what();
        if (engine) result.deviceStatus = engine->deviceStatus;
        return finish(reporter, script.exception, std::move(result));
    }

    result.deviceStatus = engine->deviceStatus;
    if (engine->state == IAPEngine::STATE_PASSED) {
        result.outcome = Outcome::Passed;
        result.text = kPass;
        return finish(reporter, script.passed, std::move(result));
    }
    if (script.showsDeviceErrors && engine->errorFlag == 1) {
        result.outcome = Outcome::DeviceError;
        result.failure = Failure::DeviceStatus;
        result.text = deviceErrorText(engine->deviceStatus);
        return finish(reporter, script.deviceError, std::move(result));
    }
    // Ended without a device error: stopped, or out of retries (a switch
    // whose device kept answering a status code, an engine with retryNum 0).
    result.outcome = Outcome::Timeout;
    result.failure = engine->state != IAPEngine::STATE_FAILED ? Failure::Interrupted
                     : engine->deviceStatus != 0             ? Failure::DeviceStatus
                                                             : Failure::RetryLimit;
    result.text = kTimeout;
    return finish(reporter, script.timeout, std::move(result));
}

}  // namespace

AttemptResult runProcedure(const ProcedureScript& script, const ProcedureRun& run, const DeviceOpener& open) {
    const auto wallStart = std::chrono::system_clock::now();
    const auto began = std::chrono::steady_clock::now();
    AttemptResult result = runAttempt(script, run, open);
    result.start = wallStart;
    result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    return result;
}

}  // namespace iap
