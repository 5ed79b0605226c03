#include "logging/log_sink.h"

#include "logging/diagnostics.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

namespace iap {

namespace fs = std::filesystem;

std::FILE* openForAppend(const fs::path& file) {
#ifdef _WIN32
    return ::_wfopen(file.c_str(), L"ab");
#else
    return std::fopen(file.c_str(), "ab");
#endif
}

fs::path AppendingRotatingSink::rotatedName(const fs::path& file, std::size_t index) {
    if (index == 0) return file;
    std::string name = file.stem().string();
    name += '.';
    name += std::to_string(index);
    name += file.extension().string();
    return file.parent_path() / name;
}

AppendingRotatingSink::AppendingRotatingSink(fs::path file, std::size_t maxFileSize, std::size_t maxFiles)
    : file_(std::move(file)), maxFileSize_(maxFileSize), maxFiles_(maxFiles) {
    stream_ = openForAppend(file_);
    if (!stream_) {
        throw std::runtime_error("Failed opening file " + file_.string() + " for writing: " + std::strerror(errno));
    }
    std::error_code ec;
    const auto existing = fs::file_size(file_, ec);
    size_ = ec ? 0 : static_cast<std::size_t>(existing);
    rotateAt_ = maxFileSize_;
}

AppendingRotatingSink::~AppendingRotatingSink() {
    if (stream_) std::fclose(stream_);
}

void AppendingRotatingSink::sink_it_(const spdlog::details::log_msg& msg) {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    if (maxFiles_ > 0 && size_ > 0 && size_ + formatted.size() > rotateAt_) rotate();
    if (!stream_) return;
    if (std::fwrite(formatted.data(), 1, formatted.size(), stream_) != formatted.size()) {
        throw spdlog::spdlog_ex("Failed writing to file " + file_.string(), errno);
    }
    size_ += formatted.size();
}

void AppendingRotatingSink::flush_() {
    if (stream_) std::fflush(stream_);
}

void AppendingRotatingSink::rotate() {
    std::fclose(stream_);
    stream_ = nullptr;
    std::error_code renameError, ec;
    for (std::size_t i = maxFiles_; i > 0 && !renameError; --i) {
        const fs::path from = rotatedName(file_, i - 1);
        if (!fs::exists(from, ec)) continue;
        fs::rename(from, rotatedName(file_, i), renameError);
    }
    const bool renamed = !renameError;
    // Appending, never truncating: after a failed rename the live file still
    // holds its lines, and they stay.
    stream_ = openForAppend(file_);
    if (!stream_) {
        throw spdlog::spdlog_ex("Failed opening file " + file_.string() + " for writing", errno);
    }
    const auto size = fs::file_size(file_, ec);
    size_ = ec ? 0 : static_cast<std::size_t>(size);
    if (renamed) {
        rotateAt_ = maxFileSize_;
        return;
    }
    rotateAt_ = size_ + maxFileSize_;
    if (!warned_) {
        warned_ = true;
        warning("cannot rotate " + file_.string() + " (" + renameError.message() + "); appending to it instead");
    }
}

}  // namespace iap
