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

#include "app/logging.h"

namespace iap::testing {

class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<Sink>()), saved_(basic_logger) {
        basic_logger = std::make_shared<spdlog::logger>("basic_logger", sink_);
        basic_logger->set_level(spdlog::level::trace);
    }
    ~LogCapture() { basic_logger = saved_; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() { return sink_->lines(); }
    // Called with every line as it is written (set it before the lines come).
    void onLine(std::function<void(const std::string&)> f) { sink_->onLine = std::move(f); }
    size_t count(const std::string& line) {
        const auto all = lines();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }

private:
    struct Sink : spdlog::sinks::base_sink<std::mutex> {
        std::vector<std::string> lines() {
            std::lock_guard<std::mutex> lock(this->mutex_);
            return lines_;
        }
        void sink_it_(const spdlog::details::log_msg& msg) override {
            lines_.emplace_back(msg.payload.data(), msg.payload.size());
            if (onLine) onLine(lines_.back());
        }
        void flush_() override {}
        std::function<void(const std::string&)> onLine;
        std::vector<std::string> lines_;
    };
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<spdlog::logger> saved_;
};

}  // namespace iap::testing
