// The editable grid over an open code table: a model that reads the rows of
// the table in its active order, straight from the table (no copy in
// widgets), and writes through the table's own edit, insert and post; and a
// view with the code column fixed and painted like the titles, a check box
// column toggled by one click, in-place editing with Tab between cells,
// the row written when the cursor leaves it, a confirmation before a row is
// deleted, an untouched new row dropped, and long text ended by an ellipsis
// with the whole text as a hint.
#pragma once

#include "settings/core/CodeTables.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QTableView>

#include <cstdint>
#include <string>
#include <vector>

class Operator;
class TAdsTable;

struct CodeGridColumn {
    const char* field;
    int widthInCharacters;
    const char* title;
    bool checkBox = false;
    bool fixed = false; // stays in place, painted like the titles, not editable
};

class CodeTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    CodeTableModel(std::vector<CodeGridColumn> columns, QObject* parent = nullptr);
    ~CodeTableModel() override;

    // Binds the model to a table (nullptr: none). The model follows the
    // table's opens, closes, moves and changes from then on.
    void setTable(TAdsTable* table);
    TAdsTable* table() const { return table_; }
    const std::vector<CodeGridColumn>& columns() const { return columns_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row of the table's current record; -1 when there is none.
    int currentRow() const;
    // Makes `row` the table's current record. A pending change of another
    // row is written first, an untouched new row dropped.
    void moveTo(int row);
    // Writes a pending change, drops an untouched new row.
    void checkBrowseMode();
    // Starts a new row at the end (pending until it is typed into and left).
    void appendRow();
    bool rowIsNew(int row) const;

    // The record shown in a row.
    uint32_t recordAt(int row) const;
    std::string textAt(int row, int column) const;
    bool checkedAt(int row, int column) const;

  signals:
    // The table's current row changed (by the grid, the navigator or a
    // rebuild); the view follows.
    void currentRowChanged(int row);

  private:
    void onTableEvent(int event);
    void reload();
    std::string rawText(uint32_t recno, int field) const;

    std::vector<CodeGridColumn> columns_;
    TAdsTable* table_ = nullptr;
    int listener_ = 0;
    std::vector<uint32_t> rows_; // record numbers in the active order
    bool newRowTouched_ = false;
    bool busy_ = false;
};

class CodeGrid : public QTableView {
    Q_OBJECT
  public:
    CodeGrid(std::vector<CodeGridColumn> columns, CodeTableKind kind, QWidget* parent = nullptr);

    CodeTableModel* codeModel() const { return model_; }
    // `op` answers the questions of a deletion.
    void setTable(TAdsTable* table, const std::string& dataDir, Operator* op);

    // Writes what an open cell editor holds into the row (it stays pending
    // until the row is left).
    void commitEditor();
    // Asks, then removes the current row for good.
    void deleteCurrentRow();
    // The whole text of a cell when it does not fit its column; empty
    // otherwise.
    QString hintFor(const QModelIndex& index) const;
    // Width of a column of this many characters.
    int widthForCharacters(int characters) const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void changeEvent(QEvent* event) override;

  private:
    friend class CodeGridDelegate;
    void followTable(int row);
    void applyColumnWidths();
    void dropUntouchedNewRowUnlessEditing();

    CodeTableModel* model_;
    CodeTableKind kind_;
    std::string dataDir_;
    Operator* operator_ = nullptr;
    QPointer<QWidget> editor_;
    bool following_ = false;
};
