// A fixed pool of worker threads running submitted tasks in submission order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace iap {

class ThreadPool {
public:
    // Starts `threads` workers; a failure to start one propagates
    // (the workers already started are stopped and joined first).
    explicit ThreadPool(size_t threads);
    // Stops the pool and joins every worker: queued tasks still run first.
    ~ThreadPool();

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Submits a task. Throws std::runtime_error("enqueue on stopped
    // ThreadPool") once the pool is stopping. An exception escaping the task
    // is stored in the returned future, never rethrown in the worker.
    std::future<void> enqueue(std::function<void()> task);

    // Sets stop and wakes every worker: they run what is queued and end.
    // Then waits up to `bound` for all of them to end and joins them.
    // Returns false when some worker still runs a task at the bound; such
    // workers stay owned by the pool and are joined by the destructor.
    bool shutdown(std::chrono::milliseconds bound);

    size_t size() const { return workers.size(); }

private:
    void workerLoop();
    void stopAndJoinAll();

    std::vector<std::thread> workers;
    std::queue<std::function<void()>> tasks;
    std::mutex queueMutex;
    std::condition_variable condition;
    bool stop = false;

    // Workers that have left their loop, guarded by queueMutex.
    size_t finished = 0;
    std::condition_variable allFinished;
};

}  // namespace iap
