#include "fleet/state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>
#include <sodium.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "logging/diagnostics.h"

namespace iap::fleet {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kSuffix = ".ship-state";

std::string pathHash(const fs::path& path) {
    const std::string text = pathText(path);
    unsigned char digest[8];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                       nullptr, 0);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : digest) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string errnoText() { return std::strerror(errno); }

}  // namespace

bool writeFileAtomically(const fs::path& file, const std::string& text, std::string& why) {
    fs::path temp = file;
    temp += ".tmp";
#ifdef _WIN32
    FILE* f = _wfopen(temp.c_str(), L"wb");
#else
    FILE* f = std::fopen(temp.c_str(), "wb");
#endif
    if (!f) {
        why = errnoText();
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
#ifdef _WIN32
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && ::fsync(fileno(f)) == 0;
#endif
    if (!ok) why = errnoText();
    if (std::fclose(f) != 0 && ok) {
        why = errnoText();
        ok = false;
    }
#ifdef _WIN32
    // MoveFileExW replaces an existing file in one step, as rename does on POSIX.
    if (ok && !MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = std::system_category().message(static_cast<int>(GetLastError()));
        ok = false;
    }
#else
    if (ok && std::rename(temp.c_str(), file.c_str()) != 0) {
        why = errnoText();
        ok = false;
    }
#endif
    if (!ok) {
        std::error_code ec;
        fs::remove(temp, ec);
    }
    return ok;
}

StateFile::StateFile(fs::path record, fs::path stateFolder) : record_(std::move(record)) {
    beside_ = record_;
    beside_ += kSuffix;
    if (!stateFolder.empty()) {
        const std::string hash = pathHash(record_);
        inFolder_ = stateFolder / record_.filename();
        inFolder_ += ".";
        inFolder_ += hash;
        inFolder_ += kSuffix;
    }
}

std::optional<FollowPosition> StateFile::load() const {
    // Both places may hold one (the record's folder became writable, or
    // stopped being so): the newer is the truth.
    fs::path file;
    fs::file_time_type newest{};
    for (const fs::path& candidate : {beside_, inFolder_}) {
        std::error_code ec;
        if (candidate.empty() || !fs::is_regular_file(candidate, ec)) continue;
        const auto time = fs::last_write_time(candidate, ec);
        if (!ec && (file.empty() || time > newest)) {
            file = candidate;
            newest = time;
        }
    }
    if (file.empty()) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const json j = json::parse(text.str(), nullptr, false);
    const bool sound = j.is_object() && j.value("record", json()).is_string() && j.value("gen", json()).is_string() &&
                       j.value("confirmed", json()).is_number_unsigned() && j.value("header", json()).is_string();
    if (!sound || j["record"].get<std::string>() != pathText(record_)) {
        warning("the state file " + pathText(file) + " cannot be read or belongs to another record: shipping " +
                pathText(record_) + " from its beginning");
        return std::nullopt;
    }
    return FollowPosition{j["gen"].get<std::string>(), j["confirmed"].get<uint64_t>(), j["header"].get<std::string>()};
}

bool StateFile::save(const FollowPosition& position) {
    const std::string text = json{{"record", pathText(record_)},
                                  {"gen", position.gen},
                                  {"confirmed", position.confirmed},
                                  {"header", position.headerHash}}
                                 .dump(-1, ' ', false, json::error_handler_t::replace) +
                             "\n";
    std::string whyBeside, whyFolder = "no state folder is known";
    if (writeFileAtomically(beside_, text, whyBeside)) {
        where_ = beside_;
        return true;
    }
    if (!inFolder_.empty()) {
        std::error_code ec;
        fs::create_directories(inFolder_.parent_path(), ec);
        if (writeFileAtomically(inFolder_, text, whyFolder)) {
            if (where_ != inFolder_) {
                warning("cannot write the state file beside " + pathText(record_) + " (" + whyBeside + "); it is " +
                        pathText(inFolder_));
            }
            where_ = inFolder_;
            return true;
        }
    }
    if (!warned_) {
        warning("cannot save how far " + pathText(record_) + " is confirmed: " + pathText(beside_) + " (" + whyBeside +
                "), " + (inFolder_.empty() ? std::string("no state folder") : pathText(inFolder_)) + " (" + whyFolder +
                "); its unconfirmed lines go again after a restart");
        warned_ = true;
    }
    return false;
}

}  // namespace iap::fleet
