// Radio buttons that the keyboard reaches one by one. A radio button of Qt's
// own exclusive groups is a Tab stop only while it is chosen, so a keyboard
// user could never reach the other options; these buttons are each a Tab
// stop in their place and keep the choice exclusive themselves: choosing one
// clears its sibling buttons of the same kind, and Space or a click on the
// chosen one keeps it chosen.
//
// RadioGroup: a captioned group of such buttons in one or more columns, one
// chosen at a time, addressed by item index; -1 means no item is chosen.
#pragma once

#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

#include <vector>

namespace ui {

class RadioButton : public QRadioButton {
    Q_OBJECT
  public:
    explicit RadioButton(const QString& text, QWidget* parent = nullptr);

  protected:
    void nextCheckState() override;
};

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    // Items fill the columns from top to bottom, the first column first.
    RadioGroup(const QString& title, const QStringList& items, QWidget* parent = nullptr,
               int columns = 1);

    int itemIndex() const;
    // Any index outside the items chooses none.
    void setItemIndex(int index);
    QRadioButton* button(int index) const;
    int count() const;

  signals:
    void itemIndexChanged(int index);

  private:
    std::vector<RadioButton*> buttons_;
};

} // namespace ui
