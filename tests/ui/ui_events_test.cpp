// The UI event queue, the UI thread and the display state it writes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "ui/display_state.h"
#include "ui/thread_pool.h"
#include "ui/ui_thread.h"
#include "upgrade/log_capture.h"

namespace iap {
namespace {

using namespace std::chrono_literals;

UIEvent event(uint32_t type, std::string message = {}) {
    UIEvent e;
    e.eventType = type;
    e.message = std::move(message);
    return e;
}

// Handles the events already queued.
void handleQueued(UIEventQueue& queue, DisplayState& display) {
    ::testing::internal::CaptureStdout();
    while (queue.pending() > 0) UIThreadEventHandler(queue, display);
    ::testing::internal::GetCapturedStdout();
}

TEST(UIEventQueue, TheThirtyThirdPutBlocksUntilOneIsTaken) {
    UIEventQueue queue;
    for (int i = 0; i < 32; ++i) queue.put(event(EVENT_TIPS, std::to_string(i)));
    std::atomic<bool> putDone{false};
    std::thread producer([&] {
        queue.put(event(EVENT_TIPS, "32"));
        putDone = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(putDone.load());
    EXPECT_EQ(queue.take().message, "0");
    producer.join();
    EXPECT_TRUE(putDone.load());
    for (int i = 1; i <= 32; ++i) EXPECT_EQ(queue.take().message, std::to_string(i));
}

TEST(UIEventQueue, ClosingReleasesABlockedProducerAndDropsLaterPuts) {
    UIEventQueue queue;
    for (int i = 0; i < 32; ++i) queue.put(event(EVENT_TIPS));
    std::thread producer([&] { EXPECT_FALSE(queue.put(event(EVENT_TIPS, "late"))); });
    std::this_thread::sleep_for(20ms);
    queue.close();
    producer.join();
    EXPECT_FALSE(queue.put(event(EVENT_MSG)));
    EXPECT_EQ(queue.pending(), 32u);
}

TEST(UIThreadEventHandler, AppliesEachEventKind) {
    UIEventQueue queue;
    DisplayState display;
    testing::LogCapture log;

    DisplayTexts t = display.snapshot();
    EXPECT_STREQ(t.vidText, "0000");
    EXPECT_STREQ(t.pidText, "0000");
    EXPECT_STREQ(t.verText, "0000");
    EXPECT_FALSE(t.msgPending);

    postTips(queue, "A");
    postTips(queue, "B");
    postMsg(queue, "hello");
    UIEvent info = event(EVENT_DEVINFO);
    info.vid = 0x1A2B;
    info.pid = 0x3C;
    info.bcdDevice = 0x0100;
    UIThreadPutEvent(queue, info);
    UIThreadPutEvent(queue, event(7, "odd"));

    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(UIThreadEventHandler(queue, display));
    const std::string out = ::testing::internal::GetCapturedStdout();

    t = display.snapshot();
    EXPECT_STREQ(t.tipsText, "B");
    EXPECT_STREQ(t.msgText, "hello");
    EXPECT_TRUE(t.msgPending);
    EXPECT_STREQ(t.vidText, "1A2B");
    EXPECT_STREQ(t.pidText, "003C");
    EXPECT_STREQ(t.verText, "0100");
    EXPECT_EQ(out, "event type: 49 A\nevent type: 49 B\nevent type: 48 hello\nevent type: 50 \n"
                   "event type: 7 odd\n");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "UIThreadEventHandler e.eventType.49");
    EXPECT_EQ(lines[1], "UIThreadEventHandler e.message.c_str().A");
    EXPECT_EQ(lines[8], "UIThreadEventHandler e.eventType.7");

    display.clearMsgPending();
    EXPECT_FALSE(display.snapshot().msgPending);
}

TEST(DisplayState, LongTextsAreCutTo255BytesOnACharacterBoundary) {
    UIEventQueue queue;
    DisplayState display;
    postTips(queue, std::string(300, 'x'));
    // 254 ASCII bytes then a three-byte character: it does not fit whole.
    postMsg(queue, std::string(254, 'y') + "\xE4\xB8\xAD" + "z");
    handleQueued(queue, display);
    const DisplayTexts t = display.snapshot();
    EXPECT_EQ(std::string(t.tipsText), std::string(255, 'x'));
    EXPECT_EQ(std::string(t.msgText), std::string(254, 'y'));
}

TEST(DisplayState, PopupClearsOnlyTheMessageItShowed) {
    DisplayState display;
    display.setMsg("first");
    const DisplayTexts shown = display.snapshot();
    display.setMsg("second");  // arrives while the popup shows "first"
    display.clearMsgPending(shown.msgSerial);
    DisplayTexts t = display.snapshot();
    EXPECT_TRUE(t.msgPending);
    EXPECT_STREQ(t.msgText, "second");
    display.clearMsgPending(t.msgSerial);
    EXPECT_FALSE(display.snapshot().msgPending);
}

TEST(UIThread, RendererNeverSeesAHalfWrittenText) {
    UIEventQueue queue;
    DisplayState display;
    const std::string a(200, 'a');
    const std::string b(120, 'b');
    std::atomic<bool> done{false};
    std::thread renderer([&] {
        while (!done.load()) {
            const DisplayTexts t = display.snapshot();
            const std::string tips = t.tipsText;
            ASSERT_TRUE(tips.empty() || tips == a || tips == b) << tips.size();
            const std::string msg = t.msgText;
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
    ui.join();
    ::testing::internal::GetCapturedStdout();
    done = true;
    renderer.join();
    EXPECT_STREQ(display.snapshot().tipsText, a.c_str());  // the last tips posted
}

TEST(UIThread, ExitEventEndsTheLoopAndFreesItsWorker) {
    UIEventQueue queue;
    DisplayState display;
    ThreadPool pool(1);
    auto ui = pool.enqueue([&] { UIThread(queue, display); });
    ::testing::internal::CaptureStdout();
    postTips(queue, "before");
    UIThreadPutEvent(queue, event(EVENT_EXIT));
    ASSERT_EQ(ui.wait_for(5s), std::future_status::ready);
    ::testing::internal::GetCapturedStdout();
    postTips(queue, "after");  // stays queued
    std::atomic<bool> ran{false};
    pool.enqueue([&] { ran = true; }).get();
    EXPECT_TRUE(ran.load());
    EXPECT_STREQ(display.snapshot().tipsText, "before");
    EXPECT_EQ(queue.pending(), 1u);
}

}  // namespace
}  // namespace iap
