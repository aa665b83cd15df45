#include "ui/FormSetup.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include <QStatusBar>
#include <algorithm>

namespace ui {

void setUpFixedWindow(QWidget* window, const char* name, const char* title, int clientWidth,
                      int clientHeight) {
    window->setObjectName(name);
    window->setWindowTitle(QString::fromLatin1(title));
    QFont formFont = window->font();
    formFont.setPixelSize(10); // about the size of 8 points at 96 dots per inch
    window->setFont(formFont);
    window->setFixedSize(clientWidth, clientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(clientWidth / 2, clientHeight / 2));
    }
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(name);
    label->adjustSize();
    label->move(left, top);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect place) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    button->setGeometry(place);
    return button;
}

namespace {

// The caption as it shows, without the access key's mark.
QString shownCaption(QString caption) {
    caption.replace(QLatin1String("&&"), QLatin1String("\x01"));
    caption.remove(QLatin1Char('&'));
    caption.replace(QLatin1String("\x01"), QLatin1String("&"));
    return caption;
}

} // namespace

int captionShortfall(const QAbstractButton* button) {
    const QString caption = shownCaption(button->text());
    if (caption.isEmpty()) return 0;
    const int needed = button->fontMetrics().horizontalAdvance(caption);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    int room = button->width();
    if (qobject_cast<const QRadioButton*>(button) || qobject_cast<const QCheckBox*>(button)) {
        const bool radio = qobject_cast<const QRadioButton*>(button);
        const QRect text = button->style()->subElementRect(
            radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, button);
        room = std::min(text.right(), button->width() - 1) - text.left() + 1;
    } else if (qobject_cast<const QPushButton*>(button)) {
        room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        if (!button->icon().isNull()) room -= button->iconSize().width() + 4;
    } else if (qobject_cast<const QToolButton*>(button)) {
        room -= 2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    }
    return std::max(0, needed - room);
}

int headerWidthFor(const QHeaderView* header, const QString& title) {
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    return header->fontMetrics().horizontalAdvance(title) + 2 * margin;
}

QStatusBar* makeStatusBar(QWidget* window, int height) {
    auto* statusBar = new QStatusBar(window);
    statusBar->setObjectName("StatusBar1");
    statusBar->setSizeGripEnabled(false);
    const QSize inside = window->minimumSize();
    statusBar->setGeometry(0, inside.height() - height, inside.width(), height);
    return statusBar;
}

QProgressBar* makeProgressBar(QStatusBar* statusBar) {
    auto* progressBar = new QProgressBar(statusBar);
    progressBar->setObjectName("ProgressBar1");
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressBar->setAccessibleName("Progress");
    return progressBar;
}

} // namespace ui
