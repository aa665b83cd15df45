#include "ui/RetryPrompt.h"

#include "ui/Application.h"
#include "ui/Modal.h"

namespace ui {

void WindowRetryPrompt::SetHourglass(bool on) {
    setHourglass(on);
}

bool WindowRetryPrompt::AskRetry(const std::string& text) {
    return messageBox(MsgType::Error, MsgButtons::OkCancel, text) == mrOk;
}

void WindowRetryPrompt::ShowCancelled(const std::string& text) {
    messageBox(MsgType::Error, MsgButtons::Ok, text);
}

WindowRetryPrompt& windowRetryPrompt() {
    static WindowRetryPrompt prompt;
    return prompt;
}

} // namespace ui
