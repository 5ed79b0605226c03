// JSON lines: one object per event and line, the schema in the README.
#include <cmath>

#include <nlohmann/json.hpp>

#include "bytes/hex.h"
#include "flash/output_parts.h"
#include "flash/outputs.h"

namespace iap::flash {
namespace {

const char* kindName(EventKind kind) {
    switch (kind) {
    case EventKind::Found: return "found";
    case EventKind::State: return "state";
    case EventKind::Stage: return "stage";
    case EventKind::Progress: return "progress";
    case EventKind::Result: return "result";
    case EventKind::Summary: return "summary";
    case EventKind::Warning: return "warning";
    }
    return "unknown";
}

class JsonOutput : public Output, LockedWriter {
public:
    explicit JsonOutput(std::ostream& out) : LockedWriter(out) {}
    void emit(const Event& event) override { writeLine(jsonLine(event)); }
};

}  // namespace

std::string jsonLine(const Event& e) {
    using Json = nlohmann::ordered_json;
    Json line;
    line["event"] = kindName(e.kind);
    line["time"] = isoLocalTime(e.time);
    if (e.kind != EventKind::Summary) line["port"] = e.port.empty() ? Json() : Json(e.port);
    const auto addDevice = [&] {
        line["path"] = e.device.path;
        line["vid"] = hexText(e.device.vendorId, 4);
        line["pid"] = hexText(e.device.productId, 4);
        line["bcd_device"] = hexText(e.device.releaseNumber, 4);
        line["serial"] = e.device.serialNumber;
    };
    const auto addProblem = [&] {
        line["problem"] = e.problem.reason.empty() ? Json() : Json(e.problem.reason);
        line["permission"] = e.problem.permission;
    };
    switch (e.kind) {
    case EventKind::Found:
        addDevice();
        line["ready"] = e.ready;
        addProblem();
        break;
    case EventKind::State:
        line["state"] = e.text;
        break;
    case EventKind::Stage:
        line["procedure"] = e.procedure;
        line["text"] = e.text;
        break;
    case EventKind::Progress:
        line["procedure"] = e.procedure;
        line["bytes"] = e.bytes;
        line["total"] = e.total;
        line["percent"] = std::round(percentOf(e.bytes, e.total) * 10.0) / 10.0;  // one decimal
        line["bytes_per_second"] = static_cast<long long>(e.bytesPerSecond);
        break;
    case EventKind::Result:
        line["procedure"] = e.procedure;
        line["outcome"] = e.outcome;
        line["failure"] = e.failure.empty() ? Json() : Json(e.failure);
        line["text"] = e.text;
        line["final"] = e.final;
        line["status"] = e.status < 0 ? Json() : Json("0x" + hexText(static_cast<uint32_t>(e.status) & 0xFF, 2));
        line["bytes"] = e.bytes;
        line["total"] = e.total;
        line["duration_ms"] = e.durationMs;
        addDevice();
        addProblem();
        break;
    case EventKind::Warning:
        line["text"] = e.text;
        break;
    case EventKind::Summary:
        line["passed"] = e.passed;
        line["failed"] = e.failed;
        line["exit_code"] = e.exitCode;
        break;
    }
    // A device's text that is not UTF-8 (a serial number, a path) comes out
    // with U+FFFD in place of the bad bytes rather than ending the run.
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::unique_ptr<Output> makeJsonOutput(std::ostream& out) { return std::make_unique<JsonOutput>(out); }

}  // namespace iap::flash
