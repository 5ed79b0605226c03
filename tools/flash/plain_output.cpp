// Plain lines: one line per found device, status text, quarter of progress
// and result, for logs and scripts that read text.
#include <cstdio>
#include <map>
#include <mutex>

#include "bytes/hex.h"
#include "flash/output_parts.h"
#include "flash/outputs.h"

namespace iap::flash {
namespace {

class PlainOutput : public Output, LockedWriter {
public:
    explicit PlainOutput(std::ostream& out) : LockedWriter(out) {}

    void emit(const Event& event) override {
        std::lock_guard<std::mutex> lock(stateMutex_);
        const std::string who = (event.port.empty() ? std::string("-") : event.port) + ": ";
        switch (event.kind) {
        case EventKind::Found:
            quarters_.erase(event.port);
            writeLine(who + "found " + deviceText(event.device));
            break;
        case EventKind::Stage:
            lastStage_[event.port] = event.text;
            writeLine(who + event.procedure + ": " + oneLine(event.text));
            break;
        case EventKind::Progress: {
            // One line per quarter passed, so that a log shows the run going.
            const int quarter = static_cast<int>(percentOf(event.bytes, event.total) / 25.0);
            int& shown = quarters_[event.port];
            if (quarter > shown && quarter < 4) {
                shown = quarter;
                char text[96];
                std::snprintf(text, sizeof text, "%d%% (%u of %u bytes, %s)", quarter * 25, event.bytes,
                              event.total, rateText(event.bytesPerSecond).c_str());
                writeLine(who + event.procedure + ": " + text);
            }
            break;
        }
        case EventKind::Result: {
            // The window's text was the last status line already, as a rule.
            char took[32];
            std::snprintf(took, sizeof took, " in %.2f s", static_cast<double>(event.durationMs) / 1000.0);
            std::string line = who + event.procedure + " " + event.outcome + took;
            if (lastStage_[event.port] != event.text) line += ": " + oneLine(event.text);
            if (!event.problem.reason.empty()) line += "; " + problemText(event);
            lastStage_.erase(event.port);
            writeLine(line);
            break;
        }
        case EventKind::Summary:
            writeLine("passed " + std::to_string(event.passed) + ", failed " + std::to_string(event.failed));
            break;
        case EventKind::Warning:
            writeLine("warning: " + oneLine(event.text));
            break;
        case EventKind::State:
            break;
        }
    }

    static std::string deviceText(const HidDeviceInfo& d) {
        return d.path + " (" + hexText(d.vendorId, 4) + ":" + hexText(d.productId, 4) + ", bcdDevice " +
               hexText(d.releaseNumber, 4) + ", serial " + (d.serialNumber.empty() ? "-" : d.serialNumber) + ")";
    }
    static std::string problemText(const Event& e) {
        std::string text = e.device.path + " cannot be opened: " + e.problem.reason;
        if (e.problem.permission) text += " (the rule of `usb-iap-flash udev-rule TOOL` gives access)";
        return text;
    }

private:
    std::mutex stateMutex_;
    std::map<std::string, int> quarters_;  // quarters shown per port
    std::map<std::string, std::string> lastStage_;
};

}  // namespace

std::unique_ptr<Output> makePlainOutput(std::ostream& out) { return std::make_unique<PlainOutput>(out); }

}  // namespace iap::flash
