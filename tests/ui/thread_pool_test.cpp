// The worker pool: concurrency, exceptions, stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

#include "ui/thread_pool.h"

namespace iap {
namespace {

using namespace std::chrono_literals;

TEST(ThreadPool, TenBlockingTasksRunAtOnceTheEleventhWaitsAndAThrowKeepsTheWorker) {
    ThreadPool pool(10);
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> started{0};
    std::vector<std::future<void>> results;
    for (int i = 0; i < 10; ++i) {
        results.push_back(pool.enqueue([&] {
            ++started;
            gate.wait();
        }));
    }
    auto eleventh = pool.enqueue([] { throw std::runtime_error("task failed"); });
    for (int i = 0; i < 5000 && started.load() < 10; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(started.load(), 10);
    EXPECT_EQ(eleventh.wait_for(20ms), std::future_status::timeout);
    open.set_value();
    EXPECT_THROW(eleventh.get(), std::runtime_error);
    for (auto& r : results) r.get();
    pool.enqueue([] {}).get();  // no worker was lost
}

// A worker still busy at the bound is reported; queued tasks still run, new
// ones are refused, and the destructor joins the worker once it is done.
TEST(ThreadPool, StoppingRunsWhatIsQueuedRefusesNewTasksAndBoundsTheWait) {
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> ran{0};
    {
        ThreadPool pool(2);
        pool.enqueue([&] {
            gate.wait();
            ++ran;
        });
        for (int i = 0; i < 6; ++i) pool.enqueue([&] { ++ran; });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(pool.shutdown(50ms));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        try {
            pool.enqueue([] {});
            FAIL() << "enqueue after stop must throw";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "enqueue on stopped ThreadPool");
        }
        EXPECT_EQ(ran.load(), 6);
        open.set_value();
    }
    EXPECT_EQ(ran.load(), 7);
}

}  // namespace
}  // namespace iap
