// The three ways the station's events are shown, one file each:
//  - JSON lines (json_output.cpp): one object per event and line, the schema
//    in the README;
//  - plain lines (plain_output.cpp): one line per found device, status text,
//    quarter of progress and result, for logs and scripts that read text;
//  - the board (board_output.cpp): on a terminal, one live row per port
//    (state, progress bar with percent and bytes/s, last result) and the
//    tally below, redrawn at most ten times a second.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "station/events.h"
#include "upgrade/upgrade_record.h"  // oneLine

namespace iap::flash {

using station::Event;
using station::EventKind;
using station::Output;

std::unique_ptr<Output> makeJsonOutput(std::ostream& out);
std::unique_ptr<Output> makePlainOutput(std::ostream& out);

struct BoardTitle {
    std::string command;   // "flash", "line"
    std::string toolName;  // the tool file's name
    uint32_t payloadBytes = 0;
    std::string swVersion;
};
std::unique_ptr<Output> makeBoardOutput(std::ostream& out, int width, BoardTitle title);

// One event as its JSON line (without the line end).
std::string jsonLine(const Event& event);

// Port chains in the order of their numbers ("1-4.2" before "1-4.10";
// Windows' "PCIROOT0_PCI1400-4.2" before "PCIROOT0_PCI1400-4.10"),
// other keys after them.
bool portBefore(const std::string& a, const std::string& b);

// The board as it stands: the title line, the column heads, one row per
// port, the tally and the warnings, each line cut to width - 1 characters.
struct BoardRow {
    std::string port;
    std::string state = "waiting";
    uint32_t bytes = 0, total = 0;
    double bytesPerSecond = 0;
    std::string last;  // the last result's text, on one line
};
struct BoardModel {
    BoardTitle title;
    std::vector<BoardRow> rows;  // in port order
    int passed = 0, failed = 0;
    std::vector<std::string> warnings;  // shown below the tally
};
std::vector<std::string> renderBoard(const BoardModel& model, int width);
// Applies one event to the model.
void applyToBoard(BoardModel& model, const Event& event);

}  // namespace iap::flash
