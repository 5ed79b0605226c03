// The log file's sink: appends formatted lines to one file and rotates it at
// a size, keeping a number of older files ("basic-log.1.txt" the newest).
// Unlike spdlog's rotating sink it never truncates: when a rename fails (a
// writable file in a folder that is not), it keeps appending to the live
// file and tries again after another maxFileSize bytes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include <spdlog/sinks/base_sink.h>

namespace iap {

class AppendingRotatingSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    // Opens (creating or appending to) the file; throws std::runtime_error
    // with the system's reason when it cannot.
    AppendingRotatingSink(std::filesystem::path file, std::size_t maxFileSize, std::size_t maxFiles);
    ~AppendingRotatingSink() override;
    AppendingRotatingSink(const AppendingRotatingSink&) = delete;
    AppendingRotatingSink& operator=(const AppendingRotatingSink&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // "basic-log.txt" with index 2: "basic-log.2.txt"; index 0 is the file itself.
    static std::filesystem::path rotatedName(const std::filesystem::path& file, std::size_t index);

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

private:
    void rotate();

    std::filesystem::path file_;
    std::size_t maxFileSize_;
    std::size_t maxFiles_;
    std::FILE* stream_ = nullptr;
    std::size_t size_ = 0;
    std::size_t rotateAt_ = 0;  // size at which the next rotation is tried
    bool warned_ = false;       // a failed rotation was told (warning)
};

// Opens a file for appending (wide paths on Windows): null on failure.
std::FILE* openForAppend(const std::filesystem::path& file);

}  // namespace iap
