// The navigator bar of the code pages: eight buttons of 25 pixels with
// hints, that move through the table it is bound to (first, back 10, prior,
// next, forward 10, last) and tick or untick INCLUDE on every row. A held
// button repeats after 500 ms every 100 ms.
#pragma once

#include <QWidget>

#include <array>
#include <functional>

class QToolButton;
class TAdsTable;

class DBNavigator : public QWidget {
    Q_OBJECT
  public:
    enum Button { First, PriorPage, Prior, Next, NextPage, Last, SelectAll, UnSelect };
    static constexpr int kButtonCount = 8;

    explicit DBNavigator(QWidget* parent = nullptr);

    // The table the moves act on (nullptr: none).
    void setDataSource(TAdsTable* table) { table_ = table; }
    TAdsTable* dataSource() const { return table_; }

    // Runs before every button's action (the grid writes its pending row).
    void setBeforeAction(std::function<void()> before) { before_ = std::move(before); }
    // What Select All and UnSelect do.
    void setSelectActions(std::function<void()> all, std::function<void()> none) {
        selectAll_ = std::move(all);
        unselect_ = std::move(none);
    }

    QToolButton* button(Button which) const { return buttons_[which]; }
    // What a click on the button does.
    void click(Button which);

  private:
    std::array<QToolButton*, kButtonCount> buttons_{};
    TAdsTable* table_ = nullptr;
    std::function<void()> before_, selectAll_, unselect_;
};
