// The UI thread: takes UI events one at a time and applies them to the
// display state. Producers post through UIThreadPutEvent, postTips, postMsg.
#pragma once

#include <string_view>

#include "ui/display_state.h"
#include "ui/ui_event.h"
#include "ui/ui_event_queue.h"

namespace iap {

// Puts a copy of the event; blocks while the queue is full.
void UIThreadPutEvent(UIEventQueue& queue, const UIEvent& event);

// EVENT_TIPS / EVENT_MSG with the text.
void postTips(UIEventQueue& queue, std::string_view text);
void postMsg(UIEventQueue& queue, std::string_view text);

// Takes one event (blocking), logs it, writes it to the diagnostics and
// applies it. False for EVENT_EXIT, true for every other event.
bool UIThreadEventHandler(UIEventQueue& queue, DisplayState& display);

// Handles events until EVENT_EXIT. Runs as one pool task for the whole run.
void UIThread(UIEventQueue& queue, DisplayState& display);

}  // namespace iap
