// The selection window's grid over the work table: a table model that reads
// only the rows the view asks for, straight from the table through its active
// order (nothing of the table is copied), and the view with its keyboard and
// selection rules. The window keeps the ordered list of selected rows; the
// view's selection shows it.
#pragma once

#include "data/AdsTable.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <functional>
#include <vector>

class QKeyEvent;

class TKestalScoresModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    struct Column {
        const char* field;
        int width; // in characters
        const char* title;
    };
    static const std::vector<Column>& Columns();

    explicit TKestalScoresModel(TAdsTable& table, QObject* parent = nullptr);

    // Reads the number of rows and the fields again (after an open or an
    // order change); the view forgets its rows and its selection.
    void Reload();
    // The record shown in a row.
    uint32_t RecNoAt(int row) const;
    // The row the indicator marks (-1: none).
    void SetCurrentRow(int row);
    int CurrentRow() const { return currentRow_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    TAdsTable& table_;
    int rows_ = 0;
    std::vector<int> fieldIndexes_;
    int currentRow_ = -1;
};

// Whole rows, several at once: a plain click picks one row and drops the
// others, Shift+click a range, Ctrl+click toggles a row. The keyboard moves
// the current row without touching the selection (Space toggles it); it never
// inserts or deletes. The window sees every key first through KeyDown.
class TKestalScoresGrid : public QTableView {
    Q_OBJECT
  public:
    explicit TKestalScoresGrid(QWidget* parent = nullptr);

    // Called before the grid handles a key; true when the key was used.
    std::function<bool(QKeyEvent*)> KeyDown;

    // Column widths from the model's widths in characters of the grid's font
    // (a column is never narrower than its title).
    void ApplyColumnWidths();
    // The width the grid needs to show all its columns beside its row
    // indicator and vertical scroll bar.
    int WidthForAllColumns() const;

    // The rows' selection; the column titles keep one of their own that is
    // always empty (see the definition).
    void setSelectionModel(QItemSelectionModel* selectionModel) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
};
