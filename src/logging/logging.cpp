#include "logging/logging.h"

#include <mutex>
#include <utility>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>

namespace iap {

namespace {

std::shared_ptr<spdlog::logger> makeDiscardingLogger() {
    // A logger without sinks drops every line; level "off" skips formatting.
    auto logger = std::make_shared<spdlog::logger>("discard");
    logger->set_level(spdlog::level::off);
    return logger;
}

struct LogFile {
    std::mutex mutex;
    LogFileOptions options;
    std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> sink;
};

LogFile& logFile() {
    static LogFile file;
    return file;
}

// The one sink of both loggers; opened on first use. Caller holds the mutex.
std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> sharedSink(LogFile& file) {
    if (!file.sink) {
        // Append to what earlier runs wrote; rotate only when the size is reached.
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            file.options.fileName, file.options.maxFileSize, file.options.maxFiles,
            /*rotate_on_open=*/false);
        // The library's default pattern, each line ended by CR LF.
        sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            spdlog::pattern_time_type::local, std::string("\r\n")));
        file.sink = std::move(sink);
    }
    return file.sink;
}

void createLogger(std::shared_ptr<spdlog::logger>& handle, const char* name) {
    LogFile& file = logFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    auto logger = std::make_shared<spdlog::logger>(name, sharedSink(file));
    spdlog::drop(name);
    spdlog::register_logger(logger);
    handle = logger;
    handle->set_level(spdlog::level::trace);
}

}  // namespace

std::shared_ptr<spdlog::logger> basic_logg = makeDiscardingLogger();
std::shared_ptr<spdlog::logger> basic_logger = makeDiscardingLogger();

void createShellLogger() { createLogger(basic_logg, "basic_logg"); }

void createMainLogger() { createLogger(basic_logger, "basic_logger"); }

void closeLoggers() {
    LogFile& file = logFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    basic_logg->flush();
    basic_logger->flush();
    spdlog::drop("basic_logg");
    spdlog::drop("basic_logger");
    basic_logg = makeDiscardingLogger();
    basic_logger = makeDiscardingLogger();
    if (file.sink) file.sink->flush();
    file.sink.reset();
}

void setLogFileOptions(const LogFileOptions& options) {
    closeLoggers();
    LogFile& file = logFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    file.options = options;
}

}  // namespace iap
