// Wall and processor time of the named steps of a long operation (the copy of
// each record kind, the lookups, the pack, the tags, the staging, the
// writing), kept only while a benchmark asks for them. Off, a step costs one
// flag test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kes {

struct StepTime {
    std::string name;
    double wallSeconds = 0;
    double processorSeconds = 0; // user and system, every thread of the process
    uint64_t peakBytes = 0;      // the process's peak memory when the step ended
};

// Starts or stops keeping step times; starting forgets the ones kept.
void keepStepTimes(bool on);
// The steps kept so far, in the order they ended.
std::vector<StepTime> stepTimes();

// Times the step from its construction to its destruction.
class StepTimer {
  public:
    explicit StepTimer(const char* name);
    ~StepTimer();
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

  private:
    const char* name_;
    double wall_ = -1; // -1: not kept
    double processor_ = 0;
};

} // namespace kes
