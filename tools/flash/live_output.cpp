#include "flash/live_output.h"

#include <cmath>
#include <map>
#include <mutex>
#include <string>

#include "flash/output_parts.h"

namespace iap::flash {
namespace {

using station::Event;
using station::EventKind;

bool isRunning(const std::string& state) { return state == "to-boot" || state == "upgrading"; }

class LiveOutput : public station::Output {
public:
    LiveOutput(std::unique_ptr<station::Output> shown, fleet::LiveBoard& board, fleet::LineState line)
        : shown_(std::move(shown)), board_(board), line_(std::move(line)) {}

    void emit(const Event& e) override {
        shown_->emit(e);
        std::lock_guard lock(mutex_);
        if (e.kind == EventKind::Summary) {
            line_.passed = e.passed;
            line_.failed = e.failed;
            board_.post(line_);
            return;
        }
        if (e.port.empty() || e.kind == EventKind::Warning) return;  // no port yet: nothing to show on one
        fleet::PortState& p = ports_[e.port];
        p.port = e.port;
        p.time = e.time;
        bool lineChanged = false;
        switch (e.kind) {
        case EventKind::Found:
            p.serial = e.device.serialNumber;
            p.percent = 0;
            p.bytesPerSecond = 0;
            break;
        case EventKind::State:
            if (isRunning(p.state) != isRunning(e.text)) {
                line_.running += isRunning(e.text) ? 1 : -1;
                lineChanged = true;
            }
            p.state = e.text;
            break;
        case EventKind::Stage:
            p.text = e.text;
            break;
        case EventKind::Progress:
            p.percent = std::round(percentOf(e.bytes, e.total) * 10.0) / 10.0;
            p.bytesPerSecond = static_cast<long long>(e.bytesPerSecond);
            break;
        case EventKind::Result:
            p.text = e.text;
            p.outcome = e.outcome;
            p.failure = e.failure;
            if (!e.device.serialNumber.empty()) p.serial = e.device.serialNumber;
            if (e.total > 0) p.percent = std::round(percentOf(e.bytes, e.total) * 10.0) / 10.0;
            p.bytesPerSecond = 0;
            if (e.final) {
                (e.outcome == "passed" ? line_.passed : line_.failed) += 1;
                lineChanged = true;
            }
            break;
        default:
            break;
        }
        // A port goes out from its first state on: a board found and being
        // opened has none of the port states yet.
        if (!p.state.empty()) board_.post(p);
        if (lineChanged) board_.post(line_);
    }
    void tick() override { shown_->tick(); }
    void finish() override {
        shown_->finish();
        fleet::LineState last;
        {
            std::lock_guard lock(mutex_);
            last = line_;
        }
        last.running = 0;
        board_.stop(last);
    }

private:
    std::unique_ptr<station::Output> shown_;
    fleet::LiveBoard& board_;
    std::mutex mutex_;
    fleet::LineState line_;
    std::map<std::string, fleet::PortState> ports_;
};

}  // namespace

std::unique_ptr<station::Output> makeLiveOutput(std::unique_ptr<station::Output> shown, fleet::LiveBoard& board,
                                                fleet::LineState line) {
    return std::make_unique<LiveOutput>(std::move(shown), board, std::move(line));
}

}  // namespace iap::flash
