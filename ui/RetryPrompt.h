// The operator's side of OpenTableWithRetry: the hourglass while the open is
// retried, the retry question (an error box with OK and Cancel) and the
// notice that the program ends (an error box with OK).
#pragma once

#include "data/AdsTable.h"

namespace ui {

class WindowRetryPrompt : public RetryPrompt {
  public:
    void SetHourglass(bool on) override;
    bool AskRetry(const std::string& text) override;
    void ShowCancelled(const std::string& text) override;
};

// The one instance the program installs with SetDefaultRetryPrompt at start-up.
WindowRetryPrompt& windowRetryPrompt();

} // namespace ui
