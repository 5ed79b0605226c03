// Captures the lines written through basic_logger for the life of the object.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "app/logging.h"

namespace iap::testing {

class LineSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(this->mutex_);
        return lines_;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.emplace_back(msg.payload.data(), msg.payload.size());
    }
    void flush_() override {}

private:
    std::vector<std::string> lines_;
};

class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<LineSink>()), saved_(basic_logger) {
        auto logger = std::make_shared<spdlog::logger>("basic_logger", sink_);
        logger->set_level(spdlog::level::trace);
        basic_logger = logger;
    }
    ~LogCapture() { basic_logger = saved_; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() { return sink_->lines(); }
    size_t count(const std::string& line) {
        const auto all = lines();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }

private:
    std::shared_ptr<LineSink> sink_;
    std::shared_ptr<spdlog::logger> saved_;
};

}  // namespace iap::testing
