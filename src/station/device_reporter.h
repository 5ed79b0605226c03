// A device's reporter: the procedures' texts become stage events of its
// port; progress of the upgrade becomes progress events, at most one per
// progress interval.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/stop_signal.h"
#include "station/station_parts.h"
#include "upgrade/procedure.h"

namespace iap::station {

class DeviceReporter : public Reporter {
public:
    DeviceReporter(const Station& st, const StopSignal& stop, std::string port)
        : st_(st), stop_(stop), port_(std::move(port)) {}
    void setPort(std::string port) { port_ = std::move(port); }

    void begin(const char* procedure) {
        procedure_ = procedure;
        bytes_ = total_ = 0;
        started_ = false;
    }
    const char* procedure() const { return procedure_; }
    uint32_t bytes() const { return bytes_; }
    uint32_t total() const { return total_; }

    void postTips(std::string_view text) override;
    void postMsg(std::string_view) override {}  // the result event carries it
    void postDeviceInfo(uint16_t, uint16_t, uint16_t) override {}
    void setProgress(uint32_t limit, uint32_t pos) override;

private:
    const Station& st_;
    const StopSignal& stop_;
    std::string port_;
    const char* procedure_ = kUpgrade;
    uint32_t bytes_ = 0, total_ = 0;
    bool started_ = false;
    Clock::time_point firstProgress_{}, lastEvent_{};
};

}  // namespace iap::station
