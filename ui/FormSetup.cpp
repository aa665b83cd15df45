#include "ui/FormSetup.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

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
    return progressBar;
}

} // namespace ui
