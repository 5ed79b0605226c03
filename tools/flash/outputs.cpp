#include "flash/outputs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>

#include "bytes/hex.h"
#include "upgrade/upgrade_record.h"

namespace iap::flash {
namespace {

using Clock = std::chrono::steady_clock;

const char* kindName(EventKind kind) {
    switch (kind) {
    case EventKind::Found: return "found";
    case EventKind::State: return "state";
    case EventKind::Stage: return "stage";
    case EventKind::Progress: return "progress";
    case EventKind::Result: return "result";
    case EventKind::Summary: return "summary";
    }
    return "unknown";
}

std::string hex4(uint16_t value) { return jsonString(hexText(value, 4)); }

double percentOf(uint32_t bytes, uint32_t total) {
    return total == 0 ? 0.0 : 100.0 * static_cast<double>(bytes) / static_cast<double>(total);
}

std::string rateText(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond <= 0) return "";
    if (bytesPerSecond >= 1e6) std::snprintf(text, sizeof text, "%.2f MB/s", bytesPerSecond / 1e6);
    else std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1e3);
    return text;
}

// Serialises writers; a line goes out whole and at once.
class LockedWriter {
protected:
    explicit LockedWriter(std::ostream& out) : out_(out) {}
    void writeLine(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        out_ << line << '\n';
        out_.flush();
    }
    std::mutex mutex_;
    std::ostream& out_;
};

class JsonOutput : public Output, LockedWriter {
public:
    explicit JsonOutput(std::ostream& out) : LockedWriter(out) {}
    void emit(const Event& event) override { writeLine(jsonLine(event)); }
};

class PlainOutput : public Output, LockedWriter {
public:
    explicit PlainOutput(std::ostream& out) : LockedWriter(out) {}

    void emit(const Event& event) override {
        std::lock_guard<std::mutex> lock(stateMutex_);
        const std::string who = (event.port.empty() ? std::string("-") : event.port) + ": ";
        switch (event.kind) {
        case EventKind::Found:
            quarters_.erase(event.port);
            writeLine(who + "found " + deviceText(event.device));
            break;
        case EventKind::Stage:
            lastStage_[event.port] = event.text;
            writeLine(who + event.procedure + ": " + oneLine(event.text));
            break;
        case EventKind::Progress: {
            // One line per quarter passed, so that a log shows the run going.
            const int quarter = static_cast<int>(percentOf(event.bytes, event.total) / 25.0);
            int& shown = quarters_[event.port];
            if (quarter > shown && quarter < 4) {
                shown = quarter;
                char text[96];
                std::snprintf(text, sizeof text, "%d%% (%u of %u bytes, %s)", quarter * 25, event.bytes,
                              event.total, rateText(event.bytesPerSecond).c_str());
                writeLine(who + event.procedure + ": " + text);
            }
            break;
        }
        case EventKind::Result: {
            // The window's text was the last status line already, as a rule.
            char took[32];
            std::snprintf(took, sizeof took, " in %.2f s", static_cast<double>(event.durationMs) / 1000.0);
            std::string line = who + event.procedure + " " + event.outcome + took;
            if (lastStage_[event.port] != event.text) line += ": " + oneLine(event.text);
            if (!event.problem.reason.empty()) line += "; " + problemText(event);
            lastStage_.erase(event.port);
            writeLine(line);
            break;
        }
        case EventKind::Summary:
            writeLine("passed " + std::to_string(event.passed) + ", failed " + std::to_string(event.failed));
            break;
        case EventKind::State:
            break;
        }
    }

    static std::string deviceText(const HidDeviceInfo& d) {
        return d.path + " (" + hexText(d.vendorId, 4) + ":" + hexText(d.productId, 4) + ", bcdDevice " +
               hexText(d.releaseNumber, 4) + ", serial " + (d.serialNumber.empty() ? "-" : d.serialNumber) + ")";
    }
    static std::string problemText(const Event& e) {
        std::string text = e.device.path + " cannot be opened: " + e.problem.reason;
        if (e.problem.permission) text += " (the rule of `usb-iap-flash udev-rule TOOL` gives access)";
        return text;
    }

private:
    std::mutex stateMutex_;
    std::map<std::string, int> quarters_;  // quarters shown per port
    std::map<std::string, std::string> lastStage_;
};

class BoardOutput : public Output {
public:
    BoardOutput(std::ostream& out, int width, BoardTitle title) : out_(out), width_(width) {
        model_.title = std::move(title);
        out_ << "\x1b[?25l";  // no cursor while the board is live
        out_.flush();
    }

    void emit(const Event& event) override {
        std::lock_guard<std::mutex> lock(mutex_);
        applyToBoard(model_, event);
        dirty_ = true;
    }

    void tick() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (dirty_ && Clock::now() - drawn_ >= std::chrono::milliseconds(100)) drawLocked();
    }

    void finish() override {
        std::lock_guard<std::mutex> lock(mutex_);
        drawLocked();
        out_ << "\x1b[?25h";
        out_.flush();
    }

private:
    void drawLocked() {
        const std::vector<std::string> lines = renderBoard(model_, width_);
        std::string frame;
        if (lines_ > 0) frame += "\x1b[" + std::to_string(lines_) + "A";
        for (const std::string& line : lines) frame += "\r" + line + "\x1b[K\n";
        // A board that lost rows leaves no old lines below it.
        if (lines.size() < lines_) frame += "\x1b[J";
        out_ << frame;
        out_.flush();
        lines_ = lines.size();
        drawn_ = Clock::now();
        dirty_ = false;
    }

    std::mutex mutex_;
    std::ostream& out_;
    const int width_;
    BoardModel model_;
    size_t lines_ = 0;
    bool dirty_ = true;
    Clock::time_point drawn_{};
};

std::string padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// A number list of a port chain: "1-4.2" gives 1, 4, 2; empty when not one.
std::vector<unsigned long> portNumbers(const std::string& port) {
    std::vector<unsigned long> numbers;
    unsigned long value = 0;
    bool digits = false;
    for (char c : port) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned long>(c - '0');
            digits = true;
        } else if ((c == '-' || c == '.') && digits) {
            numbers.push_back(value);
            value = 0;
            digits = false;
        } else {
            return {};
        }
    }
    if (!digits) return {};
    numbers.push_back(value);
    return numbers;
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04X", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonLine(const Event& e) {
    std::string line = "{\"event\":" + jsonString(kindName(e.kind)) + ",\"time\":" + jsonString(isoLocalTime(e.time));
    const auto add = [&line](const char* name, const std::string& value) {
        line += ",\"";
        line += name;
        line += "\":" + value;
    };
    if (e.kind != EventKind::Summary) add("port", e.port.empty() ? "null" : jsonString(e.port));
    const auto addDevice = [&] {
        add("path", jsonString(e.device.path));
        add("vid", hex4(e.device.vendorId));
        add("pid", hex4(e.device.productId));
        add("bcd_device", hex4(e.device.releaseNumber));
        add("serial", jsonString(e.device.serialNumber));
    };
    const auto addProblem = [&] {
        add("problem", e.problem.reason.empty() ? "null" : jsonString(e.problem.reason));
        add("permission", e.problem.permission ? "true" : "false");
    };
    char number[32];
    switch (e.kind) {
    case EventKind::Found:
        addDevice();
        add("ready", e.ready ? "true" : "false");
        addProblem();
        break;
    case EventKind::State:
        add("state", jsonString(e.text));
        break;
    case EventKind::Stage:
        add("procedure", jsonString(e.procedure));
        add("text", jsonString(e.text));
        break;
    case EventKind::Progress:
        add("procedure", jsonString(e.procedure));
        add("bytes", std::to_string(e.bytes));
        add("total", std::to_string(e.total));
        std::snprintf(number, sizeof number, "%.1f", percentOf(e.bytes, e.total));
        add("percent", number);
        add("bytes_per_second", std::to_string(static_cast<long long>(e.bytesPerSecond)));
        break;
    case EventKind::Result:
        add("procedure", jsonString(e.procedure));
        add("outcome", jsonString(e.outcome));
        add("text", jsonString(e.text));
        add("final", e.final ? "true" : "false");
        add("status", e.status < 0 ? "null" : jsonString("0x" + hexText(static_cast<uint32_t>(e.status) & 0xFF, 2)));
        add("bytes", std::to_string(e.bytes));
        add("total", std::to_string(e.total));
        add("duration_ms", std::to_string(e.durationMs));
        addDevice();
        addProblem();
        break;
    case EventKind::Summary:
        add("passed", std::to_string(e.passed));
        add("failed", std::to_string(e.failed));
        add("exit_code", std::to_string(e.exitCode));
        break;
    }
    return line + "}";
}

bool portBefore(const std::string& a, const std::string& b) {
    const std::vector<unsigned long> na = portNumbers(a), nb = portNumbers(b);
    if (na.empty() != nb.empty()) return !na.empty();
    if (na.empty()) return a < b;
    return na < nb;
}

void applyToBoard(BoardModel& model, const Event& event) {
    // Status texts are the plain and JSON outputs' business; a port gets its
    // row with its first state, device or result.
    if (event.kind == EventKind::Summary || event.kind == EventKind::Stage) return;
    auto it = std::find_if(model.rows.begin(), model.rows.end(),
                           [&](const BoardRow& r) { return r.port == event.port; });
    if (it == model.rows.end()) {
        BoardRow row;
        row.port = event.port;
        const auto at = std::find_if(model.rows.begin(), model.rows.end(),
                                     [&](const BoardRow& r) { return portBefore(event.port, r.port); });
        it = model.rows.insert(at, row);
    }
    BoardRow& row = *it;
    switch (event.kind) {
    case EventKind::State:
        row.state = event.text;
        if (event.text == "upgrading") {
            row.bytes = row.total = 0;
            row.bytesPerSecond = 0;
        }
        break;
    case EventKind::Progress:
        row.bytes = event.bytes;
        row.total = event.total;
        row.bytesPerSecond = event.bytesPerSecond;
        break;
    case EventKind::Result:
        if (!event.final) break;
        row.last = oneLine(event.text);
        if (!event.problem.reason.empty()) row.last += " (" + event.problem.reason + ")";
        if (event.procedure == "upgrade" && event.total > 0) {
            row.bytes = event.bytes;
            row.total = event.total;
        }
        (event.outcome == "passed" ? model.passed : model.failed) += 1;
        break;
    default:
        break;
    }
}

std::vector<std::string> renderBoard(const BoardModel& model, int width) {
    size_t portWidth = 8;
    for (const BoardRow& r : model.rows) portWidth = std::max(portWidth, r.port.size() + 2);
    constexpr int kBar = 20;
    const size_t cut = width > 1 ? static_cast<size_t>(width - 1) : 79;
    const auto fit = [cut](std::string line) {
        if (line.size() > cut) line.resize(cut);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line;
    };

    std::vector<std::string> lines;
    const BoardTitle& t = model.title;
    lines.push_back(fit("usb-iap-flash " + t.command + " - " + t.toolName + " - firmware " +
                        std::to_string(t.payloadBytes) + " bytes" + (t.swVersion.empty() ? "" : " " + t.swVersion) +
                        " - Ctrl-C stops"));
    lines.push_back(fit(padded("PORT", portWidth) + padded("STATE", 12) + padded("PROGRESS", kBar + 8) +
                        padded("RATE", 12) + "LAST RESULT"));
    int running = 0;
    for (const BoardRow& r : model.rows) {
        const bool busy = r.state == "upgrading" || r.state == "to-boot";
        running += busy ? 1 : 0;
        std::string bar;
        if (r.total > 0) {
            const double percent = percentOf(r.bytes, r.total);
            const int filled = static_cast<int>(percent / 100.0 * kBar + 0.5);
            char pct[16];
            std::snprintf(pct, sizeof pct, " %3d%%", static_cast<int>(percent));
            bar.reserve(kBar + 8);
            bar += '[';
            bar.append(static_cast<size_t>(filled), '#');
            bar.append(static_cast<size_t>(kBar - filled), '-');
            bar += ']';
            bar += pct;
        }
        lines.push_back(fit(padded(r.port.empty() ? "-" : r.port, portWidth) + padded(r.state, 12) +
                            padded(bar, kBar + 8) + padded(r.state == "upgrading" ? rateText(r.bytesPerSecond) : "", 12) +
                            r.last));
    }
    lines.push_back(fit("passed " + std::to_string(model.passed) + "   failed " + std::to_string(model.failed) +
                        "   running " + std::to_string(running)));
    return lines;
}

std::unique_ptr<Output> makeJsonOutput(std::ostream& out) { return std::make_unique<JsonOutput>(out); }
std::unique_ptr<Output> makePlainOutput(std::ostream& out) { return std::make_unique<PlainOutput>(out); }
std::unique_ptr<Output> makeBoardOutput(std::ostream& out, int width, BoardTitle title) {
    return std::make_unique<BoardOutput>(out, width, std::move(title));
}

}  // namespace iap::flash
