#include "ui/Modal.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace ui {

namespace {

struct ModalHook {
    ModalAnswerer answerer;
    std::vector<ModalRequest> shown;
};

ModalHook& hook() {
    static ModalHook h;
    return h;
}

// Asks the installed answerer, if any, and records the request.
std::optional<ModalAnswer> answerByHook(const ModalRequest& request) {
    ModalHook& h = hook();
    if (!h.answerer) return std::nullopt;
    h.shown.push_back(request);
    // Copy: the answerer may replace itself while it runs.
    ModalAnswerer answerer = h.answerer;
    return answerer(request);
}

QWidget* ownerFor(QWidget* parent) {
    return parent ? parent : QApplication::activeWindow();
}

// The normal arrow over a modal window even while an operation shows the hourglass.
class ArrowWhileModal {
  public:
    ArrowWhileModal() : active_(QApplication::overrideCursor() != nullptr) {
        if (active_) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileModal() {
        if (active_) QApplication::restoreOverrideCursor();
    }
    ArrowWhileModal(const ArrowWhileModal&) = delete;
    ArrowWhileModal& operator=(const ArrowWhileModal&) = delete;

  private:
    bool active_;
};

// "Text files (*.txt)|*.txt|All files (*.*)|*.*" (pairs of a description and
// its patterns, as window designs give a filter) becomes Qt's
// "Text files (*.txt);;All files (*.*)". A filter without "|" is Qt's already.
QString qtNameFilter(const std::string& filter) {
    const QString text = QString::fromStdString(filter);
    if (!text.contains(QLatin1Char('|'))) return text;
    const QStringList parts = text.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        const QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        if (!patterns.isEmpty() && !description.contains(QLatin1Char('(')))
            description += QStringLiteral(" (") + QString(patterns).replace(';', ' ') + ')';
        filters << description;
    }
    return filters.join(QStringLiteral(";;"));
}

// The name with ".ext" added when its file part has no extension.
std::string withDefaultExtension(const std::string& path, const std::string& extension) {
    if (extension.empty() || path.empty()) return path;
    const size_t nameStart = path.find_last_of("/\\");
    const std::string name = nameStart == std::string::npos ? path : path.substr(nameStart + 1);
    if (name.empty() || name.find('.') != std::string::npos) return path;
    return path + "." + extension;
}

const char* titleOf(MsgType type) {
    switch (type) {
    case MsgType::Error:
        return "Error";
    case MsgType::Information:
        return "Information";
    case MsgType::Warning:
        return "Warning";
    case MsgType::Confirmation:
        return "Confirm";
    }
    return "";
}

QString displayText(const std::string& text) {
    // Messages are written with CR LF line breaks; Qt wants LF alone.
    QString s = QString::fromStdString(text);
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

} // namespace

ModalAnswerer setModalAnswerer(ModalAnswerer answerer) {
    ModalAnswerer previous = std::move(hook().answerer);
    hook().answerer = std::move(answerer);
    return previous;
}

bool hasModalAnswerer() {
    return static_cast<bool>(hook().answerer);
}

const std::vector<ModalRequest>& shownModals() {
    return hook().shown;
}

void clearShownModals() {
    hook().shown.clear();
}

ScopedModalAnswerer::ScopedModalAnswerer(ModalAnswerer answerer)
    : previous_(setModalAnswerer(std::move(answerer))) {
    clearShownModals();
}

ScopedModalAnswerer::~ScopedModalAnswerer() {
    setModalAnswerer(std::move(previous_));
}

int messageBox(MsgType type, MsgButtons buttons, const std::string& text, QWidget* parent) {
    ModalRequest request;
    request.kind = ModalKind::MessageBox;
    request.type = type;
    request.buttons = buttons;
    request.title = titleOf(type);
    request.text = text;
    if (auto answer = answerByHook(request)) return answer->result;

    QMessageBox box(ownerFor(parent));
    box.setWindowTitle(QString::fromLatin1(request.title.c_str()));
    box.setText(displayText(text));
    switch (type) {
    case MsgType::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgType::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgType::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgType::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }
    QPushButton* ok = nullptr;
    QPushButton* yes = nullptr;
    QPushButton* cancel = nullptr;
    switch (buttons) {
    case MsgButtons::Ok:
        ok = box.addButton(QMessageBox::Ok);
        box.setEscapeButton(ok);
        break;
    case MsgButtons::OkCancel:
        ok = box.addButton(QMessageBox::Ok);
        cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
        break;
    case MsgButtons::YesCancel:
        yes = box.addButton(QMessageBox::Yes);
        cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
        break;
    }
    box.setDefaultButton(ok ? ok : yes);
    ArrowWhileModal arrow;
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && clicked == ok) return mrOk;
    if (clicked && clicked == yes) return mrYes;
    if (buttons == MsgButtons::Ok) return mrOk;
    return mrCancel;
}

void showError(const std::string& text, QWidget* parent) {
    messageBox(MsgType::Error, MsgButtons::Ok, text, parent);
}

void showInformation(const std::string& text, QWidget* parent) {
    messageBox(MsgType::Information, MsgButtons::Ok, text, parent);
}

std::optional<std::string> saveFileDialog(QWidget* parent, const std::string& title,
                                          const std::string& initialPath, const std::string& filter,
                                          const std::string& defaultExtension) {
    ModalRequest request;
    request.kind = ModalKind::SaveFile;
    request.title = title;
    request.text = initialPath;
    request.filter = filter;
    request.defaultExtension = defaultExtension;
    if (auto answer = answerByHook(request)) {
        if (answer->result != mrOk) return std::nullopt;
        return withDefaultExtension(answer->path, defaultExtension);
    }

    QFileDialog dialog(ownerFor(parent), QString::fromStdString(title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!filter.empty()) dialog.setNameFilters(qtNameFilter(filter).split(QStringLiteral(";;")));
    if (!defaultExtension.empty())
        dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    if (!initialPath.empty()) dialog.selectFile(QString::fromStdString(initialPath));
    ArrowWhileModal arrow;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return withDefaultExtension(
        QDir::toNativeSeparators(dialog.selectedFiles().front()).toStdString(), defaultExtension);
}

std::optional<std::string> directoryDialog(QWidget* parent, const std::string& title,
                                           const std::string& initialDir) {
    ModalRequest request;
    request.kind = ModalKind::Directory;
    request.title = title;
    request.text = initialDir;
    if (auto answer = answerByHook(request)) {
        if (answer->result != mrOk) return std::nullopt;
        return answer->path;
    }

    ArrowWhileModal arrow;
    QString chosen = QFileDialog::getExistingDirectory(
        ownerFor(parent), QString::fromStdString(title), QString::fromStdString(initialDir));
    if (chosen.isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(chosen).toStdString();
}

bool printDialog(QWidget* parent, QPrinter& printer) {
    ModalRequest request;
    request.kind = ModalKind::Print;
    request.title = "Print";
    if (auto answer = answerByHook(request)) {
        if (answer->result != mrOk) return false;
        if (!answer->path.empty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(answer->path));
        }
        return true;
    }

    QPrintDialog dialog(&printer, ownerFor(parent));
    ArrowWhileModal arrow;
    return dialog.exec() == QDialog::Accepted;
}

int execModal(QDialog& window, ModalKind kind) {
    ModalRequest request;
    request.kind = kind;
    request.title = window.windowTitle().toStdString();
    request.window = &window;
    if (auto answer = answerByHook(request)) return answer->result;

    ArrowWhileModal arrow;
    return window.exec() == QDialog::Accepted ? mrOk : mrCancel;
}

} // namespace ui
