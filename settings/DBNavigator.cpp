#include "settings/DBNavigator.h"

#include "data/AdsTable.h"
#include "ui/Application.h"

#include <QStyle>
#include <QToolButton>

namespace {

constexpr int kButtonSize = 25;
constexpr int kPageRows = 10;

struct ButtonLook {
    const char* name;
    const char* hint;
    QStyle::StandardPixmap icon;
};

const ButtonLook kLooks[DBNavigator::kButtonCount] = {
    {"btnFirst", "Move to first record", QStyle::SP_MediaSkipBackward},
    {"btnPriorPage", "Move backward 10 records", QStyle::SP_MediaSeekBackward},
    {"btnPrior", "Move to prior record", QStyle::SP_ArrowLeft},
    {"btnNext", "Move to next record", QStyle::SP_ArrowRight},
    {"btnNextPage", "Move forward 10 records", QStyle::SP_MediaSeekForward},
    {"btnLast", "Move to last record", QStyle::SP_MediaSkipForward},
    {"btnAll", "Select All", QStyle::SP_DialogApplyButton},
    {"btnNone", "UnSelect", QStyle::SP_DialogDiscardButton},
};

} // namespace

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent) {
    setFixedSize(kButtonSize * kButtonCount, kButtonSize);
    for (int i = 0; i < kButtonCount; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(kLooks[i].name);
        button->setToolTip(QString::fromLatin1(kLooks[i].hint));
        button->setAccessibleName(QString::fromLatin1(kLooks[i].hint));
        button->setIcon(style()->standardIcon(kLooks[i].icon));
        button->setGeometry(i * kButtonSize, 0, kButtonSize, kButtonSize);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setAutoRepeatDelay(500);
        button->setAutoRepeatInterval(100);
        buttons_[static_cast<size_t>(i)] = button;
        connect(button, &QToolButton::clicked, this,
                [this, i] { ui::guarded(this, [this, i] { click(static_cast<Button>(i)); }); });
    }
}

void DBNavigator::click(Button which) {
    if (before_) before_();
    if (which == SelectAll) {
        if (selectAll_) selectAll_();
        return;
    }
    if (which == UnSelect) {
        if (unselect_) unselect_();
        return;
    }
    if (!table_ || !table_->Active()) return;
    switch (which) {
    case First:
        table_->First();
        break;
    case PriorPage:
        table_->MoveBy(-kPageRows);
        break;
    case Prior:
        table_->Prior();
        break;
    case Next:
        table_->Next();
        break;
    case NextPage:
        table_->MoveBy(kPageRows);
        break;
    case Last:
        table_->Last();
        break;
    default:
        break;
    }
}
