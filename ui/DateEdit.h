// A date picker that may be left empty. It shows the program's short date
// format MM/dd/yyyy, opens a calendar from its drop-down button (or Alt+Down,
// F4), and reads a one- or two-digit year typed by a person as a year from
// 1950 to 2049. An empty picker shows "mm/dd/yyyy" greyed and reports day
// zero (30 December 1899). Text that is not a date stays as typed when the
// operator leaves the field: the field is marked and reports day zero.
#pragma once

#include "common/Date.h"

#include <QWidget>

class QCalendarWidget;
class QFrame;
class QLineEdit;
class QToolButton;

namespace ui {

class DateEdit : public QWidget {
    Q_OBJECT
  public:
    explicit DateEdit(QWidget* parent = nullptr);

    // The date shown; day zero when the picker is empty.
    kes::Date date() const;
    // Day zero empties the picker.
    void setDate(kes::Date value);
    bool isEmpty() const { return date().isZero(); }
    // True while the field holds text that is not a date (it is marked).
    bool hasInvalidText() const { return invalid_; }
    QString text() const;

    QLineEdit* lineEdit() const { return edit_; }
    QToolButton* dropDownButton() const { return button_; }
    // Opens the drop-down calendar at the picker's date (today when empty).
    void showCalendar();
    QCalendarWidget* calendar() const { return calendar_; }
    bool calendarShown() const;

  signals:
    void dateChanged(kes::Date value);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void commitText();
    void takeCalendarDate();
    void markInvalid(bool invalid);

    QLineEdit* edit_;
    QToolButton* button_;
    QFrame* popup_;
    QCalendarWidget* calendar_;
    kes::Date committed_;
    bool invalid_ = false;
};

} // namespace ui
