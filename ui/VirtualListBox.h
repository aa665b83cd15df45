// A single-selection list whose rows are not stored in the widget: it knows
// only how many rows it has and asks a callback for the text of each row it
// paints, by row index. Tab characters in a row are expanded at tab stops
// given in horizontal dialog units (a quarter of the average character width
// of the list's font). Every change of the selected row, by the operator or
// by the program, raises itemIndexChanged.
#pragma once

#include <QListView>

#include <functional>
#include <string>

namespace ui {

class VirtualListBox : public QListView {
    Q_OBJECT
  public:
    using ItemText = std::function<std::string(int index)>;

    explicit VirtualListBox(QWidget* parent = nullptr);

    void setItemTextCallback(ItemText callback);

    int count() const;
    // A selected row that no longer exists is deselected (itemIndexChanged
    // runs); otherwise the selection stays where it was.
    void setCount(int rows);

    // The selected row, -1 for none.
    int itemIndex() const { return itemIndex_; }
    void setItemIndex(int index);

    void setTabStopDialogUnits(int units);
    int tabStopDialogUnits() const { return tabStopUnits_; }
    // The tab stop in pixels for the current font.
    qreal tabStopPixels() const;

    // The text the list shows in a row, as the callback gives it.
    QString itemText(int row) const;

  signals:
    void itemIndexChanged(int index);

  protected:
    // Like a system single-selection list box: a click or key moves the
    // selection to a row but never clears it (no Ctrl+click deselection, no
    // clearing by a click below the last row). The program clears it with
    // setItemIndex(-1).
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    // With the focus the list shows a focus frame on the row the keyboard is
    // on: the selected row, or the first one when none is selected.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void syncItemIndex();

    class Rows;
    class RowPainter;
    Rows* rows_;
    int itemIndex_ = -1;
    int tabStopUnits_ = 0;
};

} // namespace ui
