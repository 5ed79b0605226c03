// The worker pool: concurrency, order, exceptions, stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "ui/thread_pool.h"

namespace iap {
namespace {

using namespace std::chrono_literals;

TEST(ThreadPool, TenWorkersRunTenBlockingTasksAndTheEleventhWaits) {
    ThreadPool pool(10);
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> started{0};
    std::atomic<bool> eleventh{false};
    std::vector<std::future<void>> results;
    for (int i = 0; i < 10; ++i) results.push_back(pool.enqueue([&] {
        ++started;
        gate.wait();
    }));
    results.push_back(pool.enqueue([&] { eleventh = true; }));
    for (int i = 0; i < 5000 && started.load() < 10; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(started.load(), 10);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(eleventh.load());
    open.set_value();
    for (auto& r : results) r.get();
    EXPECT_TRUE(eleventh.load());
}

TEST(ThreadPool, TasksStartInOrderAndAThrowingTaskKeepsItsWorker) {
    ThreadPool pool(1);
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::future<void>> results;
    for (int i = 0; i < 5; ++i) {
        results.push_back(pool.enqueue([&, i] {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(i);
            if (i == 2) throw std::runtime_error("task failed");
        }));
    }
    for (int i = 0; i < 5; ++i) {
        if (i == 2) EXPECT_THROW(results[i].get(), std::runtime_error);
        else results[i].get();
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(ThreadPool, StoppingRunsQueuedTasksThenRefusesNewOnes) {
    ThreadPool pool(2);
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<int> ran{0};
    for (int i = 0; i < 8; ++i) {
        pool.enqueue([&, i] {
            if (i < 2) gate.wait();  // both workers held while six more queue up
            ++ran;
        });
    }
    open.set_value();
    EXPECT_TRUE(pool.shutdown(5000ms));
    EXPECT_EQ(ran.load(), 8);
    try {
        pool.enqueue([] {});
        FAIL() << "enqueue after stop must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "enqueue on stopped ThreadPool");
    }
}

TEST(ThreadPool, BoundedShutdownReportsAWorkerThatRunsOnAndTheDestructorJoinsIt) {
    std::promise<void> open;
    std::shared_future<void> gate = open.get_future().share();
    std::atomic<bool> finished{false};
    {
        ThreadPool pool(3);
        pool.enqueue([&] {
            gate.wait();
            finished = true;
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(pool.shutdown(50ms));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        open.set_value();
    }
    EXPECT_TRUE(finished.load());
}

}  // namespace
}  // namespace iap
