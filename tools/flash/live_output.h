// usb-iap-flash --publish: the station's events passed on to the output the
// user sees, and each port's state and the line's tally handed to the live
// board on the broker (src/fleet/live_board.h).
#pragma once

#include <memory>

#include "fleet/live_board.h"
#include "station/events.h"

namespace iap::flash {

// line: the line's state before any device (version, tool, firmware). The
// board is stopped with the line's last state when the output finishes.
std::unique_ptr<station::Output> makeLiveOutput(std::unique_ptr<station::Output> shown, fleet::LiveBoard& board,
                                                fleet::LineState line);

}  // namespace iap::flash
