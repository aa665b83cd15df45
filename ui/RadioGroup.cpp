#include "ui/RadioGroup.h"

#include <QGridLayout>

namespace ui {

RadioButton::RadioButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setAutoExclusive(false);
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        if (!checked || !parentWidget()) return;
        for (RadioButton* sibling :
             parentWidget()->findChildren<RadioButton*>(Qt::FindDirectChildrenOnly))
            if (sibling != this) sibling->setChecked(false);
    });
}

void RadioButton::nextCheckState() {
    if (!isChecked()) setChecked(true);
}

RadioGroup::RadioGroup(const QString& title, const QStringList& items, QWidget* parent, int columns)
    : QGroupBox(title, parent) {
    // No QButtonGroup: Tab skips the unchosen buttons of any group.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(0);
    columns = std::max(1, columns);
    const int perColumn =
        std::max<int>(1, (static_cast<int>(items.size()) + columns - 1) / columns);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new RadioButton(items[i], this);
        button->setObjectName(QString("item%1").arg(i));
        buttons_.push_back(button);
        layout->addWidget(button, i % perColumn, i / perColumn);
        connect(button, &QAbstractButton::toggled, this, [this, i](bool checked) {
            if (checked) emit itemIndexChanged(i);
        });
    }
}

int RadioGroup::itemIndex() const {
    for (int i = 0; i < count(); ++i)
        if (buttons_[static_cast<size_t>(i)]->isChecked()) return i;
    return -1;
}

void RadioGroup::setItemIndex(int index) {
    if (QRadioButton* chosen = button(index)) {
        chosen->setChecked(true);
        return;
    }
    if (QRadioButton* current = button(itemIndex())) {
        current->setChecked(false);
        emit itemIndexChanged(-1);
    }
}

QRadioButton* RadioGroup::button(int index) const {
    return index >= 0 && index < count() ? buttons_[static_cast<size_t>(index)] : nullptr;
}

int RadioGroup::count() const {
    return static_cast<int>(buttons_.size());
}

} // namespace ui
