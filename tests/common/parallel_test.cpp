// The parallel helper: which error comes back when one side or both fail,
// that every job of a list runs, and that a background task's error is
// handed over once.
#include "common/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// The text of the error `work` throws, "" when it throws none.
template <class Work> std::string errorOf(Work&& work) {
    try {
        work();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(RunBoth, EachSideRunsAndTheRightErrorComesBack) {
    using kes::WhenBothFail;
    struct Case {
        bool hereFails, thereFails;
        WhenBothFail rule;
        const char* expected;
    } cases[] = {
        {false, false, WhenBothFail::CallingThreadWins, ""},
        {true, false, WhenBothFail::CallingThreadWins, "here"},
        {false, true, WhenBothFail::CallingThreadWins, "there"},
        {true, true, WhenBothFail::CallingThreadWins, "here"},
        {true, false, WhenBothFail::OtherThreadWins, "here"},
        {false, true, WhenBothFail::OtherThreadWins, "there"},
        {true, true, WhenBothFail::OtherThreadWins, "there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hereFails) + std::to_string(c.thereFails) +
                     (c.rule == WhenBothFail::CallingThreadWins ? " calling" : " other"));
        const std::thread::id caller = std::this_thread::get_id();
        std::thread::id hereOn, thereOn;
        bool thereEnded = false;
        const std::string error = errorOf([&] {
            kes::runBoth(
                [&] {
                    hereOn = std::this_thread::get_id();
                    if (c.hereFails) throw std::runtime_error("here");
                },
                [&] {
                    thereOn = std::this_thread::get_id();
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    thereEnded = true;
                    if (c.thereFails) throw std::runtime_error("there");
                },
                c.rule);
        });
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(hereOn, caller);
        EXPECT_NE(thereOn, caller);
        // Even when the calling side fails at once, the call waits for the other.
        EXPECT_TRUE(thereEnded);
    }
}

TEST(RunJobs, EveryJobRunsAndTheLowestFailureComesBack) {
    struct Case {
        size_t count;
        bool twoThreads;
        std::vector<size_t> failing;
        const char* expected;
    } cases[] = {
        {0, true, {}, ""},
        {1, true, {}, ""},
        {1, true, {0}, "job 0"},
        {7, false, {}, ""},
        {7, false, {5, 2}, "job 2"},
        {64, true, {}, ""},
        {64, true, {63, 40, 41}, "job 40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + (c.twoThreads ? " on two threads" : " on one"));
        std::vector<std::atomic<int>> runs(c.count);
        std::mutex mutex;
        std::set<std::thread::id> threads;
        const std::string error = errorOf([&] {
            kes::runJobs(c.count, c.twoThreads, [&](size_t i) {
                ++runs[i];
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    threads.insert(std::this_thread::get_id());
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                for (size_t f : c.failing)
                    if (f == i) throw std::runtime_error("job " + std::to_string(i));
            });
        });
        EXPECT_EQ(error, c.expected);
        for (size_t i = 0; i < c.count; ++i)
            EXPECT_EQ(runs[i].load(), 1) << "job " << i;
        if (!c.twoThreads || c.count < 2) {
            // One job, or one thread asked for: no second thread.
            EXPECT_LE(threads.size(), 1u);
            for (const std::thread::id& id : threads)
                EXPECT_EQ(id, std::this_thread::get_id());
        }
    }
}

TEST(BackgroundTask, RunsMeanwhileAndHandsItsErrorOverOnce) {
    {
        std::atomic<bool> ran{false};
        kes::BackgroundTask task([&] { ran = true; });
        task.wait();
        EXPECT_TRUE(ran);
    }
    {
        kes::BackgroundTask task([] { throw std::runtime_error("index"); });
        EXPECT_EQ(errorOf([&] { task.wait(); }), "index");
        EXPECT_EQ(errorOf([&] { task.wait(); }), ""); // handed over once
    }
    {
        // Not waited for: the end of its life waits, and drops the error.
        std::atomic<bool> ended{false};
        {
            kes::BackgroundTask task([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ended = true;
                throw std::runtime_error("dropped");
            });
        }
        EXPECT_TRUE(ended);
    }
}

TEST(FirstError, KeepsTheFirstOfStepsThatAllRun) {
    kes::FirstError first;
    int ran = 0;
    first.run([&] { ++ran; });
    EXPECT_FALSE(first.failed());
    first.run([&] {
        ++ran;
        throw std::runtime_error("first");
    });
    first.run([&] {
        ++ran;
        throw std::runtime_error("second");
    });
    EXPECT_EQ(ran, 3);
    EXPECT_TRUE(first.failed());
    EXPECT_EQ(errorOf([&] { first.rethrow(); }), "first");
    EXPECT_EQ(errorOf([&] { first.rethrow(); }), ""); // forgotten once thrown
}

} // namespace
