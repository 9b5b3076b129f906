#pragma once
// How many threads a worker pool runs, and how a pool's threads end: the
// rules for the collection readers, the copiers, the verifiers and the LHA
// member preparers.
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace tessarine {

// One thread per processor the system reports, but at least `least` and at
// most `most`; `least` when the count is unknown. The calling thread counts
// when it works along.
inline unsigned WorkerThreads(unsigned least, unsigned most) {
    return std::clamp(std::thread::hardware_concurrency(), least, most);
}

// The threads of one pool. An exception that leaves a thread's function
// ends the whole process, so each thread's work runs under a catch: the
// first exception raised on any of them (an allocation that fails under a
// memory limit, a thread the system cannot start) is kept, `stop` is set so
// that the others end early, and Finish raises it again on the owner's
// thread, where the job fails with it.
class WorkerGroup {
public:
    explicit WorkerGroup(std::atomic<bool>& stop) : stop_(stop) {}
    ~WorkerGroup() { Join(); }
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Runs `work` on a new thread. A thread that cannot be started counts
    // as a failure of the pool, for want of memory.
    template <class Work>
    void Start(Work work) {
        try {
            threads_.emplace_back([this, work = std::move(work)]() mutable { Run(work); });
        } catch (const std::system_error&) {
            // The system has no room for another thread's stack.
            Keep(std::make_exception_ptr(std::bad_alloc()));
        } catch (...) {
            Keep(std::current_exception());
        }
    }

    // Runs `work` on the calling thread under the same rule.
    template <class Work>
    void Run(Work& work) noexcept {
        try {
            work();
        } catch (...) {
            Keep(std::current_exception());
        }
    }

    // Whether a thread has failed; the others may still be running.
    bool Failed() const { return failed_.load(); }

    // Waits for every thread; never raises.
    void Join() noexcept {
        for (auto& t : threads_)
            if (t.joinable()) t.join();
    }

    // Waits for every thread, then raises the first exception kept.
    void Finish() {
        Join();
        if (first_) std::rethrow_exception(first_);
    }

private:
    void Keep(std::exception_ptr error) noexcept {
        {
            std::lock_guard lock(mutex_);
            if (!first_) first_ = std::move(error);
        }
        failed_ = true;
        stop_ = true;
    }

    std::atomic<bool>& stop_;
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::exception_ptr first_;
    std::vector<std::thread> threads_;
};

}  // namespace tessarine
