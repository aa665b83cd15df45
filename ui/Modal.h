// Modal pieces of the program: message boxes of a type with a fixed set of
// buttons, the save-file dialog, the directory dialog, the print dialog and the
// program's own modal windows (the report preview). Every one of them
// goes through here so that a test can answer it: with an answerer installed
// nothing modal is ever shown, the request is recorded and the answerer's
// reply is returned as if the operator had given it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QDialog;
class QPrinter;
class QWidget;

namespace ui {

enum class MsgType { Error, Information, Warning, Confirmation };
enum class MsgButtons { Ok, OkCancel, YesCancel };

// Replies, numbered as the toolkit's modal results.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrYes = 6;

enum class ModalKind { MessageBox, SaveFile, Directory, Print, ReportPreview };

struct ModalRequest {
    ModalKind kind = ModalKind::MessageBox;
    MsgType type = MsgType::Information; // message boxes only
    MsgButtons buttons = MsgButtons::Ok; // message boxes only
    std::string title;
    // The message of a box; for a dialog, the file or folder it starts with.
    std::string text;
    // Save-file dialog: the filter as given, Qt's "Text files (*.txt);;All
    // files (*)" or pairs "Text files (*.txt)|*.txt|All files (*.*)|*.*".
    std::string filter;
    std::string defaultExtension; // save-file dialog: "txt"
    // A window of the program's own shown modally: the answerer may work it
    // (press its buttons) before it returns its reply.
    QDialog* window = nullptr;
};

struct ModalAnswer {
    int result = mrCancel;
    // The chosen file or folder when result is mrOk. For the print dialog: a
    // PDF file that receives the printout instead of a printer.
    std::string path;
    ModalAnswer() = default;
    ModalAnswer(int r) : result(r) {} // NOLINT: lets an answerer return mrOk
    ModalAnswer(int r, std::string p) : result(r), path(std::move(p)) {}
};

using ModalAnswerer = std::function<ModalAnswer(const ModalRequest&)>;

// Installs the process-wide answerer (an empty function brings the real
// windows back) and returns the one it replaces.
ModalAnswerer setModalAnswerer(ModalAnswerer answerer);
bool hasModalAnswerer();
// What was asked of the answerer, oldest first.
const std::vector<ModalRequest>& shownModals();
void clearShownModals();

// Installs an answerer for one scope and empties the record of what was shown.
class ScopedModalAnswerer {
  public:
    explicit ScopedModalAnswerer(ModalAnswerer answerer);
    ~ScopedModalAnswerer();
    ScopedModalAnswerer(const ScopedModalAnswerer&) = delete;
    ScopedModalAnswerer& operator=(const ScopedModalAnswerer&) = delete;

  private:
    ModalAnswerer previous_;
};

// A modal message box; returns mrOk, mrYes or mrCancel. Closing the box
// without a button counts as Cancel (as OK for a box with OK alone).
int messageBox(MsgType type, MsgButtons buttons, const std::string& text,
               QWidget* parent = nullptr);
void showError(const std::string& text, QWidget* parent = nullptr);
void showInformation(const std::string& text, QWidget* parent = nullptr);

// The file the operator names for writing, or nullopt when cancelled. A name
// without an extension gets the default extension, also from an answerer.
std::optional<std::string> saveFileDialog(QWidget* parent, const std::string& title,
                                          const std::string& initialPath, const std::string& filter,
                                          const std::string& defaultExtension = {});
// The folder the operator picks, or nullopt when cancelled.
std::optional<std::string> directoryDialog(QWidget* parent, const std::string& title,
                                           const std::string& initialDir);

// The print dialog for `printer`; true when the operator confirms it.
bool printDialog(QWidget* parent, QPrinter& printer);

// Shows one of the program's own windows modally and returns its result
// (mrOk when it was accepted, mrCancel when closed otherwise). An answerer
// receives the window in the request instead.
int execModal(QDialog& window, ModalKind kind);

} // namespace ui
