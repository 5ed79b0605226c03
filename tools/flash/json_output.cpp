// JSON lines: one object per event and line, the schema in the README.
#include <cstdio>

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

std::string hex4(uint16_t value) { return jsonString(hexText(value, 4)); }

class JsonOutput : public Output, LockedWriter {
public:
    explicit JsonOutput(std::ostream& out) : LockedWriter(out) {}
    void emit(const Event& event) override { writeLine(jsonLine(event)); }
};

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04X", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonLine(const Event& e) {
    std::string line = "{\"event\":" + jsonString(kindName(e.kind)) + ",\"time\":" + jsonString(isoLocalTime(e.time));
    const auto add = [&line](const char* name, const std::string& value) {
        line += ",\"";
        line += name;
        line += "\":" + value;
    };
    if (e.kind != EventKind::Summary) add("port", e.port.empty() ? "null" : jsonString(e.port));
    const auto addDevice = [&] {
        add("path", jsonString(e.device.path));
        add("vid", hex4(e.device.vendorId));
        add("pid", hex4(e.device.productId));
        add("bcd_device", hex4(e.device.releaseNumber));
        add("serial", jsonString(e.device.serialNumber));
    };
    const auto addProblem = [&] {
        add("problem", e.problem.reason.empty() ? "null" : jsonString(e.problem.reason));
        add("permission", e.problem.permission ? "true" : "false");
    };
    char number[32];
    switch (e.kind) {
    case EventKind::Found:
        addDevice();
        add("ready", e.ready ? "true" : "false");
        addProblem();
        break;
    case EventKind::State:
        add("state", jsonString(e.text));
        break;
    case EventKind::Stage:
        add("procedure", jsonString(e.procedure));
        add("text", jsonString(e.text));
        break;
    case EventKind::Progress:
        add("procedure", jsonString(e.procedure));
        add("bytes", std::to_string(e.bytes));
        add("total", std::to_string(e.total));
        std::snprintf(number, sizeof number, "%.1f", percentOf(e.bytes, e.total));
        add("percent", number);
        add("bytes_per_second", std::to_string(static_cast<long long>(e.bytesPerSecond)));
        break;
    case EventKind::Result:
        add("procedure", jsonString(e.procedure));
        add("outcome", jsonString(e.outcome));
        add("failure", e.failure.empty() ? "null" : jsonString(e.failure));
        add("text", jsonString(e.text));
        add("final", e.final ? "true" : "false");
        add("status", e.status < 0 ? "null" : jsonString("0x" + hexText(static_cast<uint32_t>(e.status) & 0xFF, 2)));
        add("bytes", std::to_string(e.bytes));
        add("total", std::to_string(e.total));
        add("duration_ms", std::to_string(e.durationMs));
        addDevice();
        addProblem();
        break;
    case EventKind::Warning:
        add("text", jsonString(e.text));
        break;
    case EventKind::Summary:
        add("passed", std::to_string(e.passed));
        add("failed", std::to_string(e.failed));
        add("exit_code", std::to_string(e.exitCode));
        break;
    }
    return line + "}";
}

std::unique_ptr<Output> makeJsonOutput(std::ostream& out) { return std::make_unique<JsonOutput>(out); }

}  // namespace iap::flash
