#include "upgrade/upgrade_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "bytes/firmware_image.h"
#include "bytes/hex.h"
#include "bytes/uuid.h"
#include "logging/diagnostics.h"
#include "logging/log_sink.h"
#include "logging/logging.h"
#include "package/tool_version.h"

namespace iap {

namespace fs = std::filesystem;

const char* outcomeName(Outcome outcome, bool interrupted) {
    if (interrupted) return "interrupted";
    switch (outcome) {
    case Outcome::Refused: return "refused";
    case Outcome::OpenFailed: return "open-failed";
    case Outcome::Passed: return "passed";
    case Outcome::DeviceError: return "device-error";
    case Outcome::Timeout: return "timeout";
    case Outcome::Failed: return "failed";
    }
    return "failed";
}

namespace {

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string oneLine(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += " / ";
        else if (c != '\r') out += c;
    }
    return out;
}

std::string isoLocalTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const std::time_t t = system_clock::to_time_t(time);
    const long ms = static_cast<long>(duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000);
    std::tm local{};
    long offset = 0;  // seconds east of UTC
#ifdef _WIN32
    localtime_s(&local, &t);
    std::tm utc{};
    gmtime_s(&utc, &t);
    utc.tm_isdst = local.tm_isdst;
    offset = static_cast<long>(std::difftime(std::mktime(&local), std::mktime(&utc)));
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
    offset = local.tm_gmtoff;
#endif
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text + n, sizeof text - n, ".%03ld%c%02ld:%02ld", ms < 0 ? ms + 1000 : ms,
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string recordHeader() {
    std::string header;
    for (std::string_view column : kUpgradeRecordColumns) {
        if (!header.empty()) header += ',';
        header += column;
    }
    return header + "\r\n";
}

std::string recordLine(const RecordedAttempt& a, std::string_view signer) {
    const AttemptResult& r = a.result;
    const bool opened = !r.device.path.empty();
    std::string line = isoLocalTime(r.start) + "," + std::to_string(r.duration.count()) + "," +
                       field(a.procedure) + "," + outcomeName(a.result.outcome, a.interrupted) + "," + field(oneLine(r.text)) + ",";
    line += opened ? "0x" + hexText(static_cast<uint32_t>(r.deviceStatus) & 0xFF, 2) : "";
    line += ",";
    if (opened) {
        line += hexText(r.device.vendorId, 4) + "," + hexText(r.device.productId, 4) + "," +
                hexText(r.device.releaseNumber, 4) + "," + field(r.device.serialNumber) + "," +
                field(r.device.path);
    } else {
        line += ",,,,";
    }
    line += ",";
    if (a.firmware.size() >= kImageHeaderSize) {
        const ImageHeaderView h = readImageHeader(a.firmware);
        line += field(h.swVersion) + "," + std::to_string(h.payloadLength) + ",0x" + hexText(h.payloadCrc, 4);
    } else {
        line += ",,";
    }
    line += ',';
    line += field(a.toolFile);
    line += ',';
    line += failureName(a.interrupted ? Failure::Interrupted : r.failure);
    line += ',';
    line += field(a.port.empty() ? std::string_view(r.device.portChain) : a.port);
    line += ',';
    line += field(toolVersion());
    line += ',';
    line += uuidText(uuidV7());
    line += ',';
    line += field(signer);
    return line + "\r\n";
}

UpgradeRecord::UpgradeRecord(fs::path file) : file_(std::move(file)) {}

void UpgradeRecord::setSigner(std::string fingerprint) {
    std::lock_guard<std::mutex> lock(mutex_);
    signer_ = std::move(fingerprint);
}

bool UpgradeRecord::append(const RecordedAttempt& attempt) {
    if (file_.empty()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = recordLine(attempt, signer_);
    std::FILE* out = openForAppend(file_);
    bool ok = out != nullptr;
    if (ok) {
        // One buffer, one write: the line is whole in the file or not there.
        std::setvbuf(out, nullptr, _IOFBF, recordHeader().size() + text.size() + 1);
        // The end of the file: 0 means a new (or empty) record.
        std::fseek(out, 0, SEEK_END);
        if (std::ftell(out) == 0) text = recordHeader() + text;
        ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        ok = std::fflush(out) == 0 && ok;
        ok = std::fclose(out) == 0 && ok;
    }
    if (!ok && !warned_) {
        const int error = errno;
        warned_ = true;
        warning("cannot write the upgrade record " + file_.string() + ": " + std::strerror(error));
    }
    return ok;
}

fs::path defaultRecordPath() {
    fs::path folder = logFolder();
    if (folder.empty()) {
        folder = userStateFolder();
        if (folder.empty()) return {};
        std::error_code ec;
        fs::create_directories(folder, ec);
    }
    return folder / kUpgradeRecordName;
}

}  // namespace iap
