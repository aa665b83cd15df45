// A captioned group of radio buttons, one chosen at a time, addressed by item
// index; -1 means no item is chosen.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace ui {

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const QString& title, const QStringList& items, QWidget* parent = nullptr);

    int itemIndex() const;
    // Any index outside the items chooses none.
    void setItemIndex(int index);
    QRadioButton* button(int index) const;
    int count() const;

  signals:
    void itemIndexChanged(int index);

  private:
    QButtonGroup* group_;
};

} // namespace ui
