// What the window tests share: one application object on the offscreen
// platform, a private HOME and runtime directory for the whole test program
// (so that nothing of the developer's own settings, data or running copies
// leaks in).
#pragma once

#include "data/AdsTable.h"
#include "ui/Application.h"

#include "support/Files.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// Makes the single-instance lock and channel of this process private.
// The folders stay until the program ends: helper processes may still use them.
inline void usePrivateRuntimeDir() {
    static std::vector<std::unique_ptr<TempDir>> folders;
    folders.push_back(std::make_unique<TempDir>("run"));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folders.back()->path().string()));
}

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        home_ = std::make_unique<TempDir>("home");
        qputenv("HOME", QByteArray::fromStdString(home_->path().string()));
        usePrivateRuntimeDir();
        static int argc = 1;
        static char name[] = "kes_ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<ui::Application>(argc, argv);
        ui::setApplicationTitle("KesPrep tests");
    }
    void TearDown() override {
        app_.reset();
        home_.reset();
    }

  private:
    std::unique_ptr<TempDir> home_;
    std::unique_ptr<ui::Application> app_;
};

inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace testsupport
