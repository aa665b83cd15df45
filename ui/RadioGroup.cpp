#include "ui/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ui {

RadioGroup::RadioGroup(const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(QString("item%1").arg(i));
        group_->addButton(button, i);
        layout->addWidget(button);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) emit itemIndexChanged(itemIndex());
    });
}

int RadioGroup::itemIndex() const {
    return group_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (QAbstractButton* chosen = group_->button(index)) {
        chosen->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its last button; lift that for a moment.
    if (QAbstractButton* current = group_->checkedButton()) {
        group_->setExclusive(false);
        current->setChecked(false);
        group_->setExclusive(true);
        emit itemIndexChanged(-1);
    }
}

QRadioButton* RadioGroup::button(int index) const {
    return qobject_cast<QRadioButton*>(group_->button(index));
}

int RadioGroup::count() const {
    return static_cast<int>(group_->buttons().size());
}

} // namespace ui
