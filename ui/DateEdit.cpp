#include "ui/DateEdit.h"

#include <QCalendarWidget>
#include <QDate>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

namespace ui {

namespace {

QDate toQDate(kes::Date d) {
    int y = 0, m = 0, day = 0;
    d.toYmd(y, m, day);
    return QDate(y, m, day);
}

kes::Date fromQDate(const QDate& d) {
    auto date = kes::Date::fromYmd(d.year(), d.month(), d.day());
    return date ? *date : kes::Date();
}

} // namespace

DateEdit::DateEdit(QWidget* parent) : QWidget(parent) {
    edit_ = new QLineEdit(this);
    edit_->setObjectName("edit");
    edit_->setPlaceholderText("mm/dd/yyyy");
    edit_->setMaxLength(10);
    edit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9/ ]{0,10}"), edit_));
    edit_->installEventFilter(this);

    button_ = new QToolButton(this);
    button_->setObjectName("dropDown");
    button_->setAccessibleName("Open the calendar");
    button_->setArrowType(Qt::DownArrow);
    button_->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(edit_, 1);
    layout->addWidget(button_);
    setFocusProxy(edit_);
    setFocusPolicy(Qt::StrongFocus);

    popup_ = new QFrame(this, Qt::Popup);
    popup_->setFrameShape(QFrame::StyledPanel);
    calendar_ = new QCalendarWidget(popup_);
    calendar_->setObjectName("calendar");
    calendar_->setGridVisible(true);
    auto* popupLayout = new QVBoxLayout(popup_);
    popupLayout->setContentsMargins(0, 0, 0, 0);
    popupLayout->addWidget(calendar_);

    connect(edit_, &QLineEdit::editingFinished, this, &DateEdit::commitText);
    connect(button_, &QToolButton::clicked, this, &DateEdit::showCalendar);
    connect(calendar_, &QCalendarWidget::clicked, this, &DateEdit::takeCalendarDate);
    connect(calendar_, &QCalendarWidget::activated, this, &DateEdit::takeCalendarDate);
}

kes::Date DateEdit::date() const {
    // The text being typed counts as soon as it is a date, so a reader never
    // sees a value older than what is on screen; text that is no date is no
    // date, whatever the picker held before.
    const QString text = edit_->text().trimmed();
    if (text.isEmpty()) return kes::Date();
    if (auto parsed = kes::Date::fromShortText(text.toStdString())) return *parsed;
    return kes::Date();
}

void DateEdit::setDate(kes::Date value) {
    const bool changed = value != committed_ || value != date();
    committed_ = value;
    edit_->setText(value.isZero() ? QString() : QString::fromStdString(value.toShortText()));
    markInvalid(false);
    if (changed) emit dateChanged(value);
}

void DateEdit::markInvalid(bool invalid) {
    if (invalid == invalid_) return;
    invalid_ = invalid;
    edit_->setStyleSheet(invalid ? "QLineEdit { background: #ffd6d6; }" : QString());
    edit_->setToolTip(invalid ? "Not a date: type it as mm/dd/yyyy" : QString());
}

QString DateEdit::text() const {
    return edit_->text();
}

void DateEdit::commitText() {
    const QString text = edit_->text().trimmed();
    if (text.isEmpty()) {
        setDate(kes::Date());
    } else if (auto parsed = kes::Date::fromShortText(text.toStdString())) {
        setDate(*parsed);
    } else {
        // Kept as typed and marked, so that the operator sees what is wrong
        // instead of a date silently put back.
        const bool changed = !committed_.isZero();
        committed_ = kes::Date();
        markInvalid(true);
        if (changed) emit dateChanged(committed_);
    }
}

void DateEdit::showCalendar() {
    if (!isEnabled()) return;
    commitText();
    const kes::Date shown = committed_.isZero() ? kes::Date::today() : committed_;
    calendar_->setSelectedDate(toQDate(shown));
    popup_->adjustSize();
    popup_->move(mapToGlobal(QPoint(0, height())));
    popup_->show();
    calendar_->setFocus();
}

bool DateEdit::calendarShown() const {
    return popup_->isVisible();
}

void DateEdit::takeCalendarDate() {
    popup_->hide();
    setDate(fromQDate(calendar_->selectedDate()));
    edit_->setFocus();
}

bool DateEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F4 ||
            (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier))) {
            showCalendar();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ui
