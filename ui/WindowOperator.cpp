#include "ui/WindowOperator.h"

#include "ui/Application.h"
#include "ui/Modal.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QStatusBar>

namespace ui {

WindowOperator::WindowOperator(QWidget* owner, QStatusBar* statusPanel, QProgressBar* progressBar)
    : owner_(owner), statusPanel_(statusPanel), progressBar_(progressBar) {}

void WindowOperator::ShowStatus(const std::string& text) {
    if (statusPanel_) {
        if (text.empty())
            statusPanel_->clearMessage();
        else
            statusPanel_->showMessage(QString::fromStdString(text));
    }
    processEvents();
}

void WindowOperator::SetProgressRange(int minimum, int maximum) {
    if (progressBar_) progressBar_->setRange(minimum, maximum);
}

void WindowOperator::SetProgress(int position) {
    if (progressBar_) progressBar_->setValue(position);
}

void WindowOperator::SetHourglass(bool on) {
    setHourglass(on);
}

void WindowOperator::ProcessPendingEvents() {
    processEvents();
}

void WindowOperator::ShowError(const std::string& text) {
    messageBox(MsgType::Error, MsgButtons::Ok, text, owner_);
}

void WindowOperator::ShowInformation(const std::string& text) {
    messageBox(MsgType::Information, MsgButtons::Ok, text, owner_);
}

void WindowOperator::ShowWarning(const std::string& text) {
    messageBox(MsgType::Warning, MsgButtons::Ok, text, owner_);
}

bool WindowOperator::Confirm(const std::string& text) {
    return messageBox(MsgType::Confirmation, MsgButtons::YesCancel, text, owner_) == mrYes;
}

bool WindowOperator::AskRetry(const std::string& text) {
    return messageBox(MsgType::Error, MsgButtons::OkCancel, text, owner_) == mrOk;
}

void WindowOperator::ShowCancelled(const std::string& text) {
    messageBox(MsgType::Error, MsgButtons::Ok, text, owner_);
}

std::unique_ptr<TExportProgress> WindowOperator::CreateExportProgress() {
    return exportProgress_ ? exportProgress_() : nullptr;
}

PreparationOperator::PreparationOperator(QWidget* owner, QStatusBar* statusPanel,
                                         QProgressBar* progressBar)
    : WindowOperator(owner, statusPanel, progressBar) {
    repaintClock_.start();
}

void PreparationOperator::ShowStatus(const std::string& text) {
    if (statusPanel()) {
        if (text.empty())
            statusPanel()->clearMessage();
        else
            statusPanel()->showMessage(QString::fromStdString(text));
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void PreparationOperator::SetProgressRange(int minimum, int maximum) {
    if (progressBar()) progressBar()->setRange(minimum, std::max(minimum, maximum));
}

void PreparationOperator::SetProgress(int position) {
    if (progressBar()) progressBar()->setValue(position);
    if (repaintClock_.elapsed() >= kRepaintInterval) {
        repaintClock_.restart();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

} // namespace ui
