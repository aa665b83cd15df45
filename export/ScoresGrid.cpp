#include "export/ScoresGrid.h"

#include "ui/FormSetup.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

const std::vector<TKestalScoresModel::Column>& TKestalScoresModel::Columns() {
    static const std::vector<Column> columns = {
        {"ID", 10, "ID"},
        {"LNAME", 14, "Last Name"},
        {"FNAME", 12, "First Name"},
        {"MNAME", 10, "Middel Initial"},
        {"BIRTHDATE", 10, "Birth Date"},
        {"TESTCODE", 7, "Code"},
        {"TESTSCORE", 9, "Score"},
        {"DATE", 10, "Date"},
    };
    return columns;
}

TKestalScoresModel::TKestalScoresModel(TAdsTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {}

void TKestalScoresModel::Reload() {
    beginResetModel();
    fieldIndexes_.clear();
    rows_ = 0;
    currentRow_ = -1;
    if (table_.Active()) {
        for (const Column& column : Columns())
            fieldIndexes_.push_back(table_.FieldByName(column.field).Index());
        rows_ = static_cast<int>(table_.PositionCount());
    }
    endResetModel();
}

uint32_t TKestalScoresModel::RecNoAt(int row) const {
    return table_.RecNoAtPosition(static_cast<size_t>(row));
}

void TKestalScoresModel::SetCurrentRow(int row) {
    if (row == currentRow_) return;
    const int previous = currentRow_;
    currentRow_ = row;
    if (previous >= 0 && previous < rows_) emit headerDataChanged(Qt::Vertical, previous, previous);
    if (row >= 0 && row < rows_) emit headerDataChanged(Qt::Vertical, row, row);
}

int TKestalScoresModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TKestalScoresModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Columns().size());
}

QVariant TKestalScoresModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || !table_.Active() || index.row() >= rows_ ||
        index.column() >= static_cast<int>(fieldIndexes_.size()))
        return {};
    const uint32_t recno = RecNoAt(index.row());
    const std::string text = table_.Fields(fieldIndexes_[index.column()]).At(recno).AsString();
    return QString::fromStdString(text);
}

QVariant TKestalScoresModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= static_cast<int>(Columns().size())) return {};
        return QString::fromLatin1(Columns()[static_cast<size_t>(section)].title);
    }
    // The row indicator: a pointer at the current row.
    return section == currentRow_ ? QStringLiteral("\u25B6") : QString();
}

Qt::ItemFlags TKestalScoresModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TKestalScoresGrid::TKestalScoresGrid(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    // Every row has the same height; the header never measures its rows.
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    rows->setMinimumSectionSize(fontMetrics().height() + 4);
    rows->setSectionsClickable(false);
    rows->setHighlightSections(false);
    rows->setFixedWidth(fontMetrics().horizontalAdvance(QChar(0x25B6)) + 8);
}

void TKestalScoresGrid::setSelectionModel(QItemSelectionModel* selectionModel) {
    QTableView::setSelectionModel(selectionModel);
    // The column titles never show the selection, yet before it paints a
    // title asks whether its whole column is selected, which after Select All
    // means asking every row of the table, column by column. An empty
    // selection of the titles' own answers at once.
    if (selectionModel && selectionModel->model())
        horizontalHeader()->setSelectionModel(
            new QItemSelectionModel(selectionModel->model(), horizontalHeader()));
}

void TKestalScoresGrid::ApplyColumnWidths() {
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const auto& columns = TKestalScoresModel::Columns();
    // The width in characters, or the title's width where the font makes
    // the title wider.
    for (size_t i = 0; i < columns.size(); ++i)
        setColumnWidth(static_cast<int>(i),
                       std::max(columns[i].width * digit + 6,
                                ui::headerWidthFor(horizontalHeader(),
                                                   QString::fromLatin1(columns[i].title))));
}

int TKestalScoresGrid::WidthForAllColumns() const {
    int width = 2 * frameWidth() + verticalHeader()->width() +
                style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    for (int c = 0; c < horizontalHeader()->count(); ++c)
        width += columnWidth(c);
    return width;
}

void TKestalScoresGrid::keyPressEvent(QKeyEvent* event) {
    if (KeyDown && KeyDown(event)) {
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Insert:
    case Qt::Key_Delete:
        // Read-only: no rows are added or removed from the keyboard.
        event->accept();
        return;
    default:
        break;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        // Select All belongs to the window (Ctrl+A above); nothing else selects all.
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

QItemSelectionModel::SelectionFlags TKestalScoresGrid::selectionCommand(const QModelIndex& index,
                                                                        const QEvent* event) const {
    if (event && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space)
            return QItemSelectionModel::Toggle | QItemSelectionModel::Rows;
        return QItemSelectionModel::NoUpdate;
    }
    return QTableView::selectionCommand(index, event);
}
