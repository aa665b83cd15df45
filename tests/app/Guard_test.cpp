// The single-instance guard: its properties, its place in the chain of
// application message handlers, and the behaviour between real processes.
#include "support/QtEnvironment.h"

#include "app/glrunone.h"
#include "ui/Application.h"
#include "ui/Modal.h"

#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

#include <csignal>

namespace {

using testsupport::TempDir;

class GuardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::usePrivateRuntimeDir();
        ui::clearTerminationRequest();
    }
    void TearDown() override { ui::clearTerminationRequest(); }

    ui::ScopedModalAnswerer answers{[](const ui::ModalRequest&) { return ui::mrOk; }};
};

TEST_F(GuardTest, DefaultsAndTheSwitchSettingThatImpliesTermination) {
    QWidget owner;
    TGLRunOnce guard(&owner);
    EXPECT_FALSE(guard.AlwaysSwitchToPreviousInstance());
    EXPECT_TRUE(guard.AlwaysTerminate());
    EXPECT_EQ(guard.AppName(), ui::applicationTitle());
    EXPECT_EQ(guard.ErrorMessage(), "This application is already running!");
    EXPECT_TRUE(guard.ShowErrorMessage());

    guard.SetAlwaysTerminate(false);
    guard.SetAlwaysSwitchToPreviousInstance(true);
    EXPECT_TRUE(guard.AlwaysTerminate());
    guard.SetAlwaysSwitchToPreviousInstance(false);
    EXPECT_TRUE(guard.AlwaysTerminate()) << "clearing the switch leaves termination alone";
}

TEST_F(GuardTest, HookHandlesItsMessageAndPassesOthersOn) {
    std::vector<unsigned> passedOn;
    ui::setApplicationMessageHandler(
        [&](ui::AppMessage& m, bool&) { passedOn.push_back(m.message); });
    QWidget owner;
    owner.show();
    owner.showMinimized();
    {
        TGLRunOnce guard(&owner);
        guard.SetAppName("Guard hook test");
        guard.Loaded();
        ASSERT_FALSE(guard.AlreadyRunning());
        EXPECT_EQ(guard.SwitchMessage(), ui::registerWindowMessage("Guard hook test"));

        ui::AppMessage other{0x0400, 5, 6};
        EXPECT_FALSE(ui::deliverApplicationMessage(other));
        EXPECT_EQ(passedOn, std::vector<unsigned>{0x0400});
        EXPECT_TRUE(owner.isMinimized());

        ui::AppMessage mine{guard.SwitchMessage(), 0, 0};
        EXPECT_TRUE(ui::deliverApplicationMessage(mine));
        EXPECT_EQ(passedOn.size(), 1u) << "the switch message is not passed on";
        EXPECT_FALSE(owner.isMinimized()) << "the running copy restores itself";
    }
    ui::AppMessage after{0x0401, 0, 0};
    ui::deliverApplicationMessage(after);
    EXPECT_EQ(passedOn.back(), 0x0401u) << "destruction puts the previous handler back";
    ui::setApplicationMessageHandler({});
}

TEST_F(GuardTest, ASecondComponentFindsTheFirstAndActsOnItsSettings) {
    QWidget firstOwner;
    TGLRunOnce first(&firstOwner);
    first.SetAppName("Guard settings test");
    first.Loaded();
    EXPECT_FALSE(first.AlreadyRunning());
    EXPECT_TRUE(ui::shownModals().empty());

    struct Case {
        bool alwaysTerminate;
        bool showMessage;
        bool expectHidden;
    };
    const Case cases[] = {{false, true, false}, {true, true, true}, {true, false, true}};
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    for (const Case& c : cases) {
        ui::clearShownModals();
        ui::clearTerminationRequest();
        QWidget owner;
        owner.setGeometry(50, 60, 300, 200);
        TGLRunOnce second(&owner);
        second.SetAppName("Guard settings test");
        second.SetErrorMessage("KesPrep is already running!");
        second.SetAlwaysTerminate(c.alwaysTerminate);
        second.SetShowErrorMessage(c.showMessage);
        second.Loaded();
        EXPECT_TRUE(second.AlreadyRunning());
        if (c.showMessage) {
            ASSERT_EQ(ui::shownModals().size(), 1u);
            EXPECT_EQ(ui::shownModals()[0].type, ui::MsgType::Error);
            EXPECT_EQ(ui::shownModals()[0].buttons, ui::MsgButtons::Ok);
            EXPECT_EQ(ui::shownModals()[0].text, "KesPrep is already running!");
        } else {
            EXPECT_TRUE(ui::shownModals().empty());
        }
        EXPECT_EQ(ui::terminationRequested(), c.expectHidden);
        if (c.expectHidden) {
            EXPECT_EQ(owner.frameGeometry().topLeft(),
                      QPoint(screen.width() + 1, screen.height() + 1));
            EXPECT_EQ(owner.size(), QSize(0, 0));
        } else {
            EXPECT_EQ(owner.geometry(), QRect(50, 60, 300, 200));
        }
    }
}

// Runs the helper program as separate processes sharing one runtime directory.
class GuardProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_.dir()));
#ifdef _WIN32
        // The switch message goes to every top-level window of the desktop:
        // the copies need real windows, on the Windows platform itself.
        env.insert("QT_QPA_PLATFORM", "windows");
#else
        env.insert("QT_QPA_PLATFORM", "offscreen");
#endif
        env_ = env;
    }

    std::unique_ptr<QProcess> start(const char* mode) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env_);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(KES_GUARD_HELPER, {mode, kAppName});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    // Runs a copy to its end and returns what it printed.
    QString run(const char* mode) {
        auto process = start(mode);
        EXPECT_TRUE(process->waitForFinished(15000)) << mode;
        return QString::fromUtf8(process->readAllStandardOutput());
    }

    static bool waitForLine(QProcess& process, QString& seen, const QString& line) {
        for (int i = 0; i < 150 && !seen.contains(line); ++i) {
            process.waitForReadyRead(100);
            seen += QString::fromUtf8(process.readAllStandardOutput());
        }
        return seen.contains(line);
    }

    static constexpr const char* kAppName = "Kestal Prepare guard test";
    TempDir runtime_;
    QProcessEnvironment env_;
};

TEST_F(GuardProcessTest, SecondCopyTellsTheOperatorAndBringsTheFirstForward) {
    auto first = start("first");
    QString firstOut;
    ASSERT_TRUE(waitForLine(*first, firstOut, "READY")) << firstOut.toStdString();
    EXPECT_TRUE(firstOut.contains("RUNNING 0"));
    EXPECT_FALSE(firstOut.contains("MESSAGE"));

    // AlwaysTerminate: the copy ends in Loaded and does not call the first.
    const QString ended = run("terminate");
    EXPECT_TRUE(ended.contains("RUNNING 1")) << ended.toStdString();
    EXPECT_TRUE(ended.contains("MESSAGE This application is already running!"));
    EXPECT_TRUE(ended.contains("EXIT 0 terminated=1"));
    // Out of sight: just beyond the bottom-right corner of the copy's screen.
    const auto hiddenPlace = [](const QString& out) {
        const QRegularExpressionMatch m = QRegularExpression("screen=(\\d+),(\\d+)").match(out);
        if (!m.hasMatch()) return QString("no screen size");
        return QString("place=%1,%2,0,0")
            .arg(m.captured(1).toInt() + 1)
            .arg(m.captured(2).toInt() + 1);
    };
    EXPECT_TRUE(ended.contains(hiddenPlace(ended))) << ended.toStdString();

    // The way the main window does it: message in Loaded, switch on activation.
    const QString second = run("second");
    EXPECT_TRUE(second.contains("RUNNING 1")) << second.toStdString();
    EXPECT_TRUE(second.contains("MESSAGE This application is already running!"));
    EXPECT_TRUE(second.contains("EXIT 0 terminated=1"));
    EXPECT_TRUE(second.contains(hiddenPlace(second))) << second.toStdString();
    ASSERT_TRUE(waitForLine(*first, firstOut, "RESTORED")) << firstOut.toStdString();

    // AlwaysSwitchToPreviousInstance: the switch happens in Loaded.
    const QString switched = run("switch");
    EXPECT_TRUE(switched.contains("RUNNING 1")) << switched.toStdString();
    EXPECT_TRUE(switched.contains("EXIT 0 terminated=1"));
    for (int i = 0; i < 150 && firstOut.count("RESTORED") < 2; ++i) {
        first->waitForReadyRead(100);
        firstOut += QString::fromUtf8(first->readAllStandardOutput());
    }
    EXPECT_EQ(firstOut.count("RESTORED"), 2) << "once for each switching copy, not for the "
                                                "terminating one: "
                                             << firstOut.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // The first copy dies without any clean-up; the next start is not blocked.
    first->kill();
    first->waitForFinished(5000);
    const QString after = run("second");
    EXPECT_TRUE(after.contains("RUNNING 0")) << after.toStdString();
    EXPECT_FALSE(after.contains("MESSAGE"));
}

TEST_F(GuardProcessTest, OfSeveralCopiesStartedTogetherExactlyOneRuns) {
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < 4; ++i)
        copies.push_back(start("first")); // each stays up, so none frees the lock early
    int running = 0;
    for (auto& copy : copies) {
        QString out;
        EXPECT_TRUE(waitForLine(*copy, out, "READY")) << out.toStdString();
        if (out.contains("RUNNING 0")) ++running;
    }
    for (auto& copy : copies) {
        copy->kill();
        copy->waitForFinished(5000);
    }
    EXPECT_EQ(running, 1);
}

} // namespace
