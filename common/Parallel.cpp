#include "common/Parallel.h"

namespace kes {

BackgroundTask::BackgroundTask(std::function<void()> work)
    : thread_([this, work = std::move(work)] {
          try {
              work();
          } catch (...) {
              error_ = std::current_exception();
          }
      }) {}

BackgroundTask::~BackgroundTask() {
    if (thread_.joinable()) thread_.join();
}

void BackgroundTask::wait() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

} // namespace kes
