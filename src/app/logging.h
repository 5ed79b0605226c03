// The tool's two file loggers on "basic-log.txt".
#pragma once

#include <memory>

#include <spdlog/spdlog.h>

namespace iap {

// The shell's own lines (created first thing at start-up).
extern std::shared_ptr<spdlog::logger> basic_logg;
// Everything else (created first thing in main_init).
extern std::shared_ptr<spdlog::logger> basic_logger;

// Create (or replace) the logger of that name on the shared log file sink.
void createShellLogger();   // basic_logg
void createMainLogger();    // basic_logger

}  // namespace iap
