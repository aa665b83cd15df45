// Work shared out over the machine's two cores: two halves side by side, a list
// of jobs two workers take in turn, or a task started now and waited for later.
// The other thread's error is rethrown to the caller; nothing runs on after a call.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace kes {

// Keeps the first error of several steps that must all run (closing one
// thing after another, or the halves of a shared piece of work), to rethrow
// it once they have.
class FirstError {
  public:
    // Runs `step`; its error is kept when it is the first.
    template <class Step> void run(Step&& step) noexcept {
        try {
            step();
        } catch (...) {
            keep(std::current_exception());
        }
    }
    void keep(std::exception_ptr error) noexcept {
        if (!error_) error_ = std::move(error);
    }
    bool failed() const { return error_ != nullptr; }
    // Throws the error kept, if any, and forgets it.
    void rethrow() {
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

  private:
    std::exception_ptr error_;
};

// Which error a call that runs two halves rethrows when both fail.
enum class WhenBothFail {
    CallingThreadWins, // the half run on the calling thread
    OtherThreadWins,   // the half run on the second thread
};

// Runs `here()` on the calling thread and `there()` on a second thread at
// the same time, and returns once both have ended; an error of either is
// rethrown then (of both, the one `rule` names).
template <class Here, class There>
void runBoth(Here&& here, There&& there, WhenBothFail rule = WhenBothFail::CallingThreadWins) {
    std::exception_ptr otherError;
    std::thread other([&] {
        try {
            there();
        } catch (...) {
            otherError = std::current_exception();
        }
    });
    std::exception_ptr ownError;
    try {
        here();
    } catch (...) {
        ownError = std::current_exception();
    }
    other.join();
    FirstError first;
    if (rule == WhenBothFail::CallingThreadWins) {
        first.keep(ownError);
        first.keep(otherError);
    } else {
        first.keep(otherError);
        first.keep(ownError);
    }
    first.rethrow();
}

// Runs `job(i)` for every i below `count`, every job even after one failed:
// on two workers that take the jobs in turn (the calling thread one of them)
// when `twoThreads` and there is more than one job, else one after another on
// the calling thread. The error of the lowest-numbered job that failed is
// rethrown once all have run.
template <class Job> void runJobs(size_t count, bool twoThreads, Job&& job) {
    std::vector<std::exception_ptr> errors(count);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next.fetch_add(1)) < count;) {
            try {
                job(i);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
    };
    if (twoThreads && count > 1)
        runBoth(worker, worker);
    else
        worker();
    for (std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

// A task started on a thread of its own at construction, for the caller to
// go on meanwhile. wait() waits for it and rethrows its error; destroying a
// task that was not waited for waits too, and drops the error.
class BackgroundTask {
  public:
    explicit BackgroundTask(std::function<void()> work);
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    void wait();

  private:
    std::exception_ptr error_; // before the thread, which may set it at once
    std::thread thread_;
};

} // namespace kes
