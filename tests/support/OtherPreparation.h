// Another preparation on a data folder, as another process: the helper
// program kes_lock_holder holds the folder's preparation lock from the
// object's construction until its destruction.
#pragma once

#include "support/Files.h"

#include "os/Os.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace testsupport {

class OtherPreparation {
  public:
    // `holder` is the path of kes_lock_holder. Waits until it holds the lock
    // (see holding()).
    OtherPreparation(const std::string& holder, const std::string& dataDir) {
        thread_ = std::thread([this, holder, dataDir] {
            exit_ = kes::os::runProgram({holder, dataDir, held_, release_});
        });
        for (int i = 0; i < 300 && !std::filesystem::exists(held_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holding_ = std::filesystem::exists(held_);
    }
    ~OtherPreparation() {
        kes::os::writeFileReplacing(release_, "");
        thread_.join();
        EXPECT_EQ(exit_, 0) << "the other preparation did not hold the folder";
    }
    OtherPreparation(const OtherPreparation&) = delete;
    OtherPreparation& operator=(const OtherPreparation&) = delete;

    bool holding() const { return holding_; }

  private:
    TempDir files_{"holder"};
    std::string held_ = files_.file("held");
    std::string release_ = files_.file("release");
    std::thread thread_;
    int exit_ = -1;
    bool holding_ = false;
};

} // namespace testsupport
