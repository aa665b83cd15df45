#include "common/StepTimer.h"

#include "os/Os.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace kes {

namespace {

std::atomic<bool> keeping{false};
std::mutex guard;
std::vector<StepTime> kept;

double wallNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void keepStepTimes(bool on) {
    std::lock_guard<std::mutex> lock(guard);
    kept.clear();
    keeping = on;
}

std::vector<StepTime> stepTimes() {
    std::lock_guard<std::mutex> lock(guard);
    return kept;
}

StepTimer::StepTimer(const char* name) : name_(name) {
    if (!keeping.load(std::memory_order_relaxed)) return;
    wall_ = wallNow();
    processor_ = os::processorSeconds();
}

StepTimer::~StepTimer() {
    if (wall_ < 0 || !keeping.load(std::memory_order_relaxed)) return;
    StepTime step{name_, wallNow() - wall_, os::processorSeconds() - processor_,
                  os::peakResidentMemoryBytes()};
    try {
        std::lock_guard<std::mutex> lock(guard);
        kept.push_back(std::move(step));
    } catch (...) {
        // a step time is never worth an error
    }
}

} // namespace kes
