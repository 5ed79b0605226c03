#include "logging/logging.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include <spdlog/pattern_formatter.h>

#include "logging/diagnostics.h"
#include "logging/log_sink.h"

namespace iap {

namespace fs = std::filesystem;

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
    bool opened = false;  // the choice of folder is made once per sink
    fs::path folder;
    std::shared_ptr<AppendingRotatingSink> sink;
};

LogFile& logFile() {
    static LogFile file;
    return file;
}

std::shared_ptr<AppendingRotatingSink> openSinkIn(const fs::path& folder, const LogFileOptions& options,
                                                  std::string& error) {
    try {
        auto sink = std::make_shared<AppendingRotatingSink>(folder / options.fileName, options.maxFileSize,
                                                            options.maxFiles);
        // The library's default pattern, each line ended by CR LF.
        sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::local,
                                                                        std::string("\r\n")));
        return sink;
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

// The working folder, else the per-user state folder, else none. Caller
// holds the mutex.
void openSharedSink(LogFile& file) {
    if (file.opened) return;
    file.opened = true;
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    std::string hereError;
    if (!ec && (file.sink = openSinkIn(here, file.options, hereError))) {
        file.folder = here;
        return;
    }
    if (ec) hereError = ec.message();
    const fs::path state = userStateFolder();
    std::string stateError = "no per-user state folder is known";
    if (!state.empty()) {
        fs::create_directories(state, ec);
        if ((file.sink = openSinkIn(state, file.options, stateError))) {
            file.folder = state;
            warning("cannot write " + file.options.fileName + " in the working folder (" + hereError + "); the log is " +
                    file.sink->file().string());
            return;
        }
    }
    warning("cannot write " + file.options.fileName + " in the working folder (" + hereError + ") nor in " +
            state.string() + " (" + stateError + "); running without a log file");
}

void createLogger(std::shared_ptr<spdlog::logger>& handle, const char* name) {
    LogFile& file = logFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    openSharedSink(file);
    auto logger = file.sink ? std::make_shared<spdlog::logger>(name, file.sink)
                            : std::make_shared<spdlog::logger>(name);
    spdlog::drop(name);
    spdlog::register_logger(logger);
    handle = logger;
    handle->set_level(spdlog::level::trace);
}

std::optional<fs::path> absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    fs::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

}  // namespace

std::shared_ptr<spdlog::logger> basic_logg = makeDiscardingLogger();
std::shared_ptr<spdlog::logger> basic_logger = makeDiscardingLogger();

void createShellLogger() { createLogger(basic_logg, "basic_logg"); }

void createMainLogger() { createLogger(basic_logger, "basic_logger"); }

fs::path userStateFolder() {
#ifdef _WIN32
    if (auto local = absoluteEnv("LOCALAPPDATA")) return *local / "USB IAP tool";
    return {};
#else
    if (auto state = absoluteEnv("XDG_STATE_HOME")) return *state / "usb-iap-tool";
    if (auto home = absoluteEnv("HOME")) return *home / ".local" / "state" / "usb-iap-tool";
    return {};
#endif
}

fs::path logFolder() {
    LogFile& file = logFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    return file.folder;
}

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
    file.opened = false;
    file.folder.clear();
}

void setLogFileOptions(const LogFileOptions& options) {
    closeLoggers();
    LogFile& file = logFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    file.options = options;
}

}  // namespace iap
