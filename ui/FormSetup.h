// What the program's windows share in setting themselves up: a window of a
// fixed inside size in the program's small font, centred on the screen, with
// its labels and buttons at their places and a status panel along its bottom
// edge that holds a progress bar.
#pragma once

#include <QRect>

class QAbstractButton;
class QHeaderView;
class QLabel;
class QString;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QWidget;

namespace ui {

// Names the window, gives it its title and the font of about 8 points at 96
// dots per inch, fixes its inside at `clientWidth` x `clientHeight` and
// centres it on the primary screen.
void setUpFixedWindow(QWidget* window, const char* name, const char* title, int clientWidth,
                      int clientHeight);

// A label sized to its caption with its top left corner at `left`, `top`.
QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, int left, int top);

// A push button at `place`.
QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect place);

// How many pixels the caption of a push button, radio button, check box or
// tool button lacks to show whole at its present width and in its font, as
// the style places the caption; 0 when it fits. The windows are laid out for
// a font of about 8 points; where the desktop's font is wider, a window
// widens a control by this much (and moves its neighbours) instead of
// cutting its caption.
int captionShortfall(const QAbstractButton* button);

// The width a column of `header` needs to show `title` whole.
int headerWidthFor(const QHeaderView* header, const QString& title);

// "StatusBar1": the status panel across the bottom `height` pixels of the
// window's fixed inside, without a size grip.
QStatusBar* makeStatusBar(QWidget* window, int height);

// "ProgressBar1" inside the status panel: 0 to 100, at 0, without text. The
// caller places it.
QProgressBar* makeProgressBar(QStatusBar* statusBar);

} // namespace ui
