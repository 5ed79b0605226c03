#include "station/device_reporter.h"

namespace iap::station {

void DeviceReporter::postTips(std::string_view text) {
    if (stop_.requested()) return;  // the result says "interrupted"
    Event e = event(EventKind::Stage, port_);
    e.procedure = procedure_;
    e.text = std::string(text);
    st_.output.emit(e);
}

void DeviceReporter::setProgress(uint32_t limit, uint32_t pos) {
    if (std::string_view(procedure_) != kUpgrade) return;  // the switch's callback only says "accepted"
    const Clock::time_point now = Clock::now();
    if (!started_) {
        started_ = true;
        firstProgress_ = now;
        lastEvent_ = now - st_.timing.progressInterval;
    }
    bytes_ = pos;
    total_ = limit;
    if (now - lastEvent_ < st_.timing.progressInterval) return;
    lastEvent_ = now;
    Event e = event(EventKind::Progress, port_);
    e.procedure = procedure_;
    e.bytes = pos;
    e.total = limit;
    const double seconds = std::chrono::duration<double>(now - firstProgress_).count();
    e.bytesPerSecond = seconds > 0 ? pos / seconds : 0;
    st_.output.emit(e);
}

}  // namespace iap::station
