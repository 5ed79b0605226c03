// The live board of a terminal: one row per port (state, progress bar with
// percent and bytes/s, last result) and the tally below, redrawn at most ten
// times a second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "bytes/ascii.h"
#include "flash/output_parts.h"
#include "flash/outputs.h"
#include "link/hid_node.h"

namespace iap::flash {
namespace {

using Clock = std::chrono::steady_clock;

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

// A port chain as its texts and numbers in turn, each text with the number
// after it: "1-4.10" gives ("", 1), ("-", 4), (".", 10).
std::vector<std::pair<std::string, unsigned long>> portPieces(const std::string& port) {
    std::vector<std::pair<std::string, unsigned long>> pieces(1);
    bool number = false;
    for (char c : port) {
        if (isAsciiDigit(c)) {
            pieces.back().second = pieces.back().second * 10 + static_cast<unsigned long>(c - '0');
            number = true;
            continue;
        }
        if (number) pieces.emplace_back();
        number = false;
        pieces.back().first += c;
    }
    return pieces;
}

}  // namespace

bool portBefore(const std::string& a, const std::string& b) {
    const bool chainA = isPortChain(a), chainB = isPortChain(b);
    if (chainA != chainB) return chainA;
    if (!chainA) return a < b;
    return portPieces(a) < portPieces(b);
}

void applyToBoard(BoardModel& model, const Event& event) {
    // Status texts are the plain and JSON outputs' business; a port gets its
    // row with its first state, device or result.
    if (event.kind == EventKind::Summary || event.kind == EventKind::Stage) return;
    if (event.kind == EventKind::Warning) {
        model.warnings.push_back(oneLine(event.text));
        return;
    }
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
    for (const std::string& warning : model.warnings) lines.push_back(fit("warning: " + warning));
    return lines;
}

std::unique_ptr<Output> makeBoardOutput(std::ostream& out, int width, BoardTitle title) {
    return std::make_unique<BoardOutput>(out, width, std::move(title));
}

}  // namespace iap::flash
