// The UI event queue, the UI thread and the display state it writes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "ui/display_state.h"
#include "ui/ui_thread.h"

namespace iap {
namespace {

using namespace std::chrono_literals;

UIEvent event(uint32_t type, std::string message = {}) {
    UIEvent e;
    e.eventType = type;
    e.message = std::move(message);
    return e;
}

// Returns once n puts are blocked inside the queue, waiting for room, or
// once a put has returned (which the caller then reports). No time limit.
void waitUntilBlockedOrReturned(UIEventQueue& queue, size_t n, const std::atomic<int>& returned) {
    while (queue.waitingProducers() < n && returned.load() == 0) std::this_thread::sleep_for(1ms);
}

TEST(UIEventQueue, TheThirtyThirdPutBlocksUntilATakeAndClosingReleasesBlockedPuts) {
    UIEventQueue queue;
    for (int i = 0; i < 32; ++i) ASSERT_TRUE(queue.put(event(EVENT_TIPS, std::to_string(i))));
    EXPECT_EQ(queue.waitingProducers(), 0u);  // up to the capacity nobody waits
    std::atomic<int> returned{0};
    bool appended = false;
    std::thread producer([&] {
        appended = queue.put(event(EVENT_TIPS, "32"));
        ++returned;
    });
    waitUntilBlockedOrReturned(queue, 1, returned);
    EXPECT_EQ(returned.load(), 0);  // inside put, and it has not appended
    EXPECT_EQ(queue.pending(), 32u);
    EXPECT_EQ(queue.take().message, "0");  // makes room: the put goes through
    producer.join();
    EXPECT_TRUE(appended);
    EXPECT_EQ(queue.waitingProducers(), 0u);

    // Full again: closing releases every blocked producer without appending,
    // and a later put is dropped at once.
    returned = 0;
    std::vector<std::thread> blocked;
    for (int i = 0; i < 2; ++i) {
        blocked.emplace_back([&] {
            EXPECT_FALSE(queue.put(event(EVENT_TIPS, "late")));
            ++returned;
        });
    }
    waitUntilBlockedOrReturned(queue, 2, returned);
    EXPECT_EQ(returned.load(), 0);
    queue.close();
    for (std::thread& t : blocked) t.join();
    EXPECT_EQ(queue.waitingProducers(), 0u);
    EXPECT_FALSE(queue.put(event(EVENT_MSG)));
    for (int i = 1; i <= 32; ++i) EXPECT_EQ(queue.take().message, std::to_string(i));
    EXPECT_EQ(queue.pending(), 0u);
}

TEST(UIThreadEventHandler, AppliesEachEventKindAndCutsLongTexts) {
    UIEventQueue queue;
    DisplayState display;
    test::LogCapture log;
    DisplayTexts t = display.snapshot();
    EXPECT_EQ(std::string(t.vidText) + t.pidText + t.verText, "000000000000");

    UIEvent info = event(EVENT_DEVINFO);
    info.vid = 0x1A2B;
    info.pid = 0x3C;
    info.bcdDevice = 0x0100;
    for (const UIEvent& e : {event(EVENT_TIPS, "A"), event(EVENT_TIPS, "B"), event(EVENT_MSG, "hello"), info,
                             event(7, "odd"), event(EVENT_EXIT)}) {
        UIThreadPutEvent(queue, e);
    }
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(UIThreadEventHandler(queue, display));
    EXPECT_FALSE(UIThreadEventHandler(queue, display));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "event type: 49 A\nevent type: 49 B\nevent type: 48 hello\n"
                                                        "event type: 50 \nevent type: 7 odd\nevent type: 240 \n");
    t = display.snapshot();
    EXPECT_EQ(std::string(t.tipsText) + "|" + t.msgText + "|" + t.vidText + t.pidText + t.verText,
              "B|hello|1A2B003C0100");
    EXPECT_TRUE(t.msgPending);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "UIThreadEventHandler e.eventType.49");
    EXPECT_EQ(lines[1], "UIThreadEventHandler e.message.c_str().A");
    EXPECT_EQ(lines[10], "UIThreadEventHandler e.eventType.240");

    // 256 bytes or more: cut to 255, never inside a UTF-8 sequence.
    display.setTips(std::string(300, 'x'));
    display.setMsg(std::string(254, 'y') + "\xE4\xB8\xAD" + "z");
    t = display.snapshot();
    EXPECT_EQ(std::string(t.tipsText), std::string(255, 'x'));
    EXPECT_EQ(std::string(t.msgText), std::string(254, 'y'));
}

TEST(DisplayState, PopupClearsOnlyTheMessageItShowed) {
    DisplayState display;
    display.setMsg("first");
    const DisplayTexts shown = display.snapshot();
    display.setMsg("second");  // arrives while the popup shows "first"
    display.clearMsgPending(shown.msgSerial);
    EXPECT_TRUE(display.snapshot().msgPending);
    display.clearMsgPending(display.snapshot().msgSerial);
    EXPECT_FALSE(display.snapshot().msgPending);
}

TEST(UIThread, RendererNeverSeesAHalfWrittenText) {
    UIEventQueue queue;
    DisplayState display;
    const std::string a(200, 'a'), b(120, 'b');
    std::atomic<bool> done{false};
    std::thread renderer([&] {
        while (!done.load()) {
            const DisplayTexts t = display.snapshot();
            const std::string tips = t.tipsText, msg = t.msgText;
            ASSERT_TRUE(tips.empty() || tips == a || tips == b) << tips.size();
            ASSERT_EQ(t.msgPending, !msg.empty());
        }
    });
    ::testing::internal::CaptureStdout();
    std::thread ui([&] { UIThread(queue, display); });
    for (int i = 0; i < 300; ++i) {
        postTips(queue, i % 2 ? a : b);
        postMsg(queue, i % 2 ? b : a);
    }
    UIThreadPutEvent(queue, event(EVENT_EXIT));
    ui.join();  // the exit event ends the loop
    ::testing::internal::GetCapturedStdout();
    done = true;
    renderer.join();
    EXPECT_STREQ(display.snapshot().tipsText, a.c_str());  // the last tips posted
}

}  // namespace
}  // namespace iap
