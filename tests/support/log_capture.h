// Captures the lines written through basic_logger for the life of the object.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "logging/logging.h"

namespace iap::test {

class LogCapture : public spdlog::sinks::base_sink<std::mutex> {
public:
    // The logger holds this sink without owning it; the capture outlives it.
    LogCapture() : saved_(basic_logger) {
        basic_logger = std::make_shared<spdlog::logger>("basic_logger", std::shared_ptr<LogCapture>(this, [](auto*) {}));
        basic_logger->set_level(spdlog::level::trace);
    }
    ~LogCapture() override { basic_logger = saved_; }

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(this->mutex_);
        return lines_;
    }
    size_t count(const std::string& line) {
        const auto all = lines();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }
    // Called with every line as it is written (set it before the lines come).
    std::function<void(const std::string&)> onLine;

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.emplace_back(msg.payload.data(), msg.payload.size());
        if (onLine) onLine(lines_.back());
    }
    void flush_() override {}

private:
    std::shared_ptr<spdlog::logger> saved_;
    std::vector<std::string> lines_;
};

}  // namespace iap::test
