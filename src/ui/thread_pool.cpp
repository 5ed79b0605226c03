#include "ui/thread_pool.h"

#include <memory>
#include <stdexcept>

namespace iap {

ThreadPool::ThreadPool(size_t threads) {
    workers.reserve(threads);
    try {
        for (size_t i = 0; i < threads; ++i) {
            workers.emplace_back([this] { workerLoop(); });
        }
    } catch (...) {
        stopAndJoinAll();
        throw;
    }
}

ThreadPool::~ThreadPool() { stopAndJoinAll(); }

void ThreadPool::workerLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            condition.wait(lock, [this] { return stop || !tasks.empty(); });
            if (stop && tasks.empty()) {
                ++finished;
                allFinished.notify_all();
                return;
            }
            task = std::move(tasks.front());
            tasks.pop();
        }
        task();
    }
}

std::future<void> ThreadPool::enqueue(std::function<void()> function) {
    auto packaged = std::make_shared<std::packaged_task<void()>>(std::move(function));
    std::future<void> result = packaged->get_future();
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (stop) {
            throw std::runtime_error("enqueue on stopped ThreadPool");
        }
        tasks.emplace([packaged] { (*packaged)(); });
    }
    condition.notify_one();
    return result;
}

bool ThreadPool::shutdown(std::chrono::milliseconds bound) {
    bool allEnded;
    {
        std::unique_lock<std::mutex> lock(queueMutex);
        stop = true;
        condition.notify_all();
        allEnded = allFinished.wait_for(lock, bound, [this] { return finished == workers.size(); });
    }
    if (allEnded) {
        for (std::thread& worker : workers) {
            if (worker.joinable()) {
                worker.join();
            }
        }
    }
    return allEnded;
}

void ThreadPool::stopAndJoinAll() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        stop = true;
    }
    condition.notify_all();
    for (std::thread& worker : workers) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

}  // namespace iap
