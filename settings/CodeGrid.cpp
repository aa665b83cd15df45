#include "settings/CodeGrid.h"

#include "common/CodePage.h"
#include "common/Operator.h"
#include "common/Text.h"
#include "data/AdsTable.h"
#include "ui/Application.h"
#include "ui/FormSetup.h"
#include "ui/Modal.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace {

// The record indicator: the current row, marked as being edited or new.
const QString kCurrentMark = QString::fromUtf8("\u25B6");
const QString kEditMark = QStringLiteral("I");
const QString kInsertMark = QStringLiteral("*");

bool logicalTrue(char byte) {
    return byte == 'T' || byte == 't' || byte == 'Y' || byte == 'y';
}

} // namespace

// ---------------------------------------------------------------- model

CodeTableModel::CodeTableModel(std::vector<CodeGridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {}

CodeTableModel::~CodeTableModel() {
    if (table_) table_->RemoveListener(listener_);
}

void CodeTableModel::setTable(TAdsTable* table) {
    if (table_) table_->RemoveListener(listener_);
    table_ = table;
    listener_ = 0;
    if (table_)
        listener_ =
            table_->AddListener([this](TableEvent e) { onTableEvent(static_cast<int>(e)); });
    reload();
}

void CodeTableModel::onTableEvent(int event) {
    if (busy_) return;
    switch (static_cast<TableEvent>(event)) {
    case TableEvent::DataSetChanged:
    case TableEvent::RecordChanged:
    case TableEvent::StateChanged:
        reload();
        break;
    case TableEvent::ScrollChanged:
        emit headerDataChanged(Qt::Vertical, 0, std::max(0, rowCount() - 1));
        emit currentRowChanged(currentRow());
        break;
    }
}

void CodeTableModel::reload() {
    const int oldCount = rowCount();
    std::vector<uint32_t> rows = rows_;
    if (!table_ || !table_->Active()) {
        rows.clear();
    } else if (table_->State() == dsBrowse) {
        // Walk the active order once; the bound views hear nothing of it.
        rows.clear();
        busy_ = true;
        table_->DisableControls();
        try {
            TBookmark here = table_->GetBookmark();
            for (table_->First(); !table_->Eof(); table_->Next())
                rows.push_back(table_->RecNo());
            if (here.valid()) table_->GotoBookmark(here);
        } catch (...) {
            table_->EnableControls();
            busy_ = false;
            throw;
        }
        table_->EnableControls();
        busy_ = false;
    }
    if (table_ && table_->State() != dsInsert) newRowTouched_ = false;
    const int newCount = static_cast<int>(rows.size()) +
                         (table_ && table_->Active() && table_->State() == dsInsert ? 1 : 0);
    if (rows == rows_ && newCount == oldCount) {
        if (newCount > 0) emit dataChanged(index(0, 0), index(newCount - 1, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, 0, std::max(0, newCount - 1));
    } else {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    emit currentRowChanged(currentRow());
}

int CodeTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !table_ || !table_->Active()) return 0;
    return static_cast<int>(rows_.size()) + (table_->State() == dsInsert ? 1 : 0);
}

int CodeTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

bool CodeTableModel::rowIsNew(int row) const {
    return table_ && table_->Active() && table_->State() == dsInsert &&
           row == static_cast<int>(rows_.size());
}

uint32_t CodeTableModel::recordAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
    return rows_[static_cast<size_t>(row)];
}

int CodeTableModel::currentRow() const {
    if (!table_ || !table_->Active()) return -1;
    if (table_->State() == dsInsert) return static_cast<int>(rows_.size());
    auto it = std::find(rows_.begin(), rows_.end(), table_->RecNo());
    return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

std::string CodeTableModel::rawText(uint32_t recno, int field) const {
    const auto& def = table_->FieldDefs()[static_cast<size_t>(field)];
    const char* bytes = table_->File().record(recno) + def.offset;
    if (def.type == 'L') return logicalTrue(bytes[0]) ? "True" : "False";
    return kes::toUtf8(kes::trimRight(std::string_view(bytes, def.length)), table_->CodePage());
}

std::string CodeTableModel::textAt(int row, int column) const {
    if (!table_ || !table_->Active()) return {};
    const char* field = columns_[static_cast<size_t>(column)].field;
    const bool pending = table_->State() == dsEdit || table_->State() == dsInsert;
    if (rowIsNew(row) || (pending && recordAt(row) == table_->RecNo()))
        return table_->FieldByName(field).AsString();
    const uint32_t recno = recordAt(row);
    if (recno == 0 || recno > table_->File().recordCount()) return {};
    return rawText(recno, table_->FieldByName(field).Index());
}

bool CodeTableModel::checkedAt(int row, int column) const {
    return textAt(row, column) == "True";
}

QVariant CodeTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const CodeGridColumn& column = columns_[static_cast<size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (column.checkBox) return {};
        return QString::fromStdString(textAt(index.row(), index.column()));
    case Qt::CheckStateRole:
        if (!column.checkBox) return {};
        return checkedAt(index.row(), index.column()) ? Qt::Checked : Qt::Unchecked;
    case Qt::BackgroundRole:
        if (column.fixed) return QApplication::palette().button();
        return {};
    case Qt::ForegroundRole:
        if (column.fixed) return QApplication::palette().buttonText();
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool CodeTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !table_ || !table_->Active()) return false;
    const CodeGridColumn& column = columns_[static_cast<size_t>(index.column())];
    if (column.fixed) return false;
    if (column.checkBox ? role != Qt::CheckStateRole : role != Qt::EditRole) return false;
    const int row = index.row();
    if (row != currentRow()) moveTo(row);
    const int here = currentRow();
    if (here < 0) return false;
    if (rowIsNew(here)) {
        newRowTouched_ = true;
    } else {
        busy_ = true;
        try {
            table_->Edit();
        } catch (...) {
            busy_ = false;
            throw;
        }
        busy_ = false;
    }
    TField& field = table_->FieldByName(column.field);
    if (column.checkBox)
        field.SetAsBoolean(value.toInt() == Qt::Checked);
    else
        field.SetAsString(value.toString().toStdString());
    emit dataChanged(this->index(here, 0), this->index(here, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, here, here);
    return true;
}

Qt::ItemFlags CodeTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const CodeGridColumn& column = columns_[static_cast<size_t>(index.column())];
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (column.fixed) return flags;
    if (column.checkBox) return flags | Qt::ItemIsUserCheckable;
    return flags | Qt::ItemIsEditable;
}

QVariant CodeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount()) return {};
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(columns_[static_cast<size_t>(section)].title);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }
    if (role != Qt::DisplayRole || section != currentRow()) return {};
    if (table_->State() == dsInsert) return kInsertMark;
    if (table_->State() == dsEdit) return kEditMark;
    return kCurrentMark;
}

void CodeTableModel::moveTo(int row) {
    if (!table_ || !table_->Active() || row == currentRow()) return;
    const uint32_t target = recordAt(row);
    checkBrowseMode();
    if (target != 0) table_->GotoBookmark(TBookmark{target});
}

void CodeTableModel::checkBrowseMode() {
    if (!table_ || !table_->Active()) return;
    if (table_->State() == dsInsert && !newRowTouched_)
        table_->Cancel();
    else if (table_->State() == dsEdit || table_->State() == dsInsert)
        table_->Post();
    newRowTouched_ = false;
}

void CodeTableModel::appendRow() {
    if (!table_ || !table_->Active()) return;
    checkBrowseMode();
    newRowTouched_ = false;
    table_->Append();
}

// ---------------------------------------------------------------- delegate

class CodeGridDelegate : public QStyledItemDelegate {
  public:
    explicit CodeGridDelegate(CodeGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            TAdsTable* table = grid_->codeModel()->table();
            const char* field =
                grid_->codeModel()->columns()[static_cast<size_t>(index.column())].field;
            if (table && table->Active()) line->setMaxLength(table->FieldByName(field).Size());
        }
        grid_->editor_ = editor;
        return editor;
    }

    // The check box changes with one click anywhere in its cell.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        if (!(index.flags() & Qt::ItemIsUserCheckable))
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton ||
                !option.rect.contains(mouse->position().toPoint()))
                return false;
            break;
        }
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_Space) return false;
            break;
        }
        default:
            return false;
        }
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        ui::guarded(grid_, [&] {
            model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        });
        return true;
    }

  private:
    CodeGrid* grid_;
};

// ---------------------------------------------------------------- view

CodeGrid::CodeGrid(std::vector<CodeGridColumn> columns, CodeTableKind kind, QWidget* parent)
    : QTableView(parent), model_(new CodeTableModel(std::move(columns), this)), kind_(kind) {
    setModel(model_);
    setItemDelegate(new CodeGridDelegate(this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setFixedWidth(fontMetrics().horizontalAdvance(kCurrentMark) + 8);
    verticalHeader()->setHighlightSections(false);
    // The selection stays visible when the grid loses focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
    applyColumnWidths();
    connect(model_, &CodeTableModel::currentRowChanged, this, &CodeGrid::followTable);
}

int CodeGrid::widthForCharacters(int characters) const {
    return characters * fontMetrics().averageCharWidth() + 6;
}

void CodeGrid::applyColumnWidths() {
    // The width in characters, or the title's width where the font makes the
    // title wider.
    for (int c = 0; c < model_->columnCount(); ++c) {
        const CodeGridColumn& column = model_->columns()[static_cast<size_t>(c)];
        setColumnWidth(
            c, std::max(widthForCharacters(column.widthInCharacters),
                        ui::headerWidthFor(horizontalHeader(), QString::fromLatin1(column.title))));
    }
}

void CodeGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    // Widths are in characters of the grid's own font.
    if (event->type() == QEvent::FontChange) applyColumnWidths();
}

void CodeGrid::setTable(TAdsTable* table, const std::string& dataDir, Operator* op) {
    dataDir_ = dataDir;
    operator_ = op;
    model_->setTable(table);
}

void CodeGrid::followTable(int row) {
    if (following_) return;
    following_ = true;
    if (row < 0) {
        setCurrentIndex({});
    } else {
        int column = currentIndex().isValid() ? currentIndex().column() : 1;
        if (column < 0 || column >= model_->columnCount()) column = 1;
        const QModelIndex target = model_->index(row, column);
        if (target != currentIndex()) setCurrentIndex(target);
        QTableView::scrollTo(model_->index(row, 0));
    }
    viewport()->update();
    following_ = false;
}

void CodeGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid() || current.row() == previous.row()) return;
    following_ = true;
    ui::guarded(this, [&] { model_->moveTo(current.row()); });
    following_ = false;
}

void CodeGrid::commitEditor() {
    if (!editor_) return;
    QWidget* editor = editor_;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    editor_ = nullptr;
}

void CodeGrid::deleteCurrentRow() {
    commitEditor();
    const int row = model_->currentRow();
    TAdsTable* table = model_->table();
    if (row < 0 || !table || !operator_) return;
    if (model_->rowIsNew(row)) {
        table->Cancel();
        return;
    }
    if (!operator_->Confirm("Delete record?")) return;
    if (!DeleteCodeRow(*table, kind_, dataDir_, *operator_)) ui::requestTermination();
}

void CodeGrid::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        ui::guarded(this, [this] { deleteCurrentRow(); });
        return;
    }
    if (key == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
        ui::guarded(this, [this] { model_->appendRow(); });
        return;
    }
    const int row = model_->currentRow();
    if (key == Qt::Key_Down && event->modifiers() == Qt::NoModifier && row >= 0 &&
        row == model_->rowCount() - 1 && !model_->rowIsNew(row)) {
        ui::guarded(this, [this] { model_->appendRow(); });
        return;
    }
    if (key == Qt::Key_Escape && model_->table() &&
        (model_->table()->State() == dsEdit || model_->table()->State() == dsInsert)) {
        ui::guarded(this, [this] { model_->table()->Cancel(); });
        return;
    }
    QTableView::keyPressEvent(event);
}

void CodeGrid::dropUntouchedNewRowUnlessEditing() {
    if (editor_ && (editor_->hasFocus() || editor_->isAncestorOf(QApplication::focusWidget())))
        return;
    const int row = model_->currentRow();
    if (row >= 0 && model_->rowIsNew(row)) {
        // checkBrowseMode keeps a typed-into row (posting it) and drops the rest.
        ui::guarded(this, [this] { model_->checkBrowseMode(); });
    }
}

void CodeGrid::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    dropUntouchedNewRowUnlessEditing();
}

QString CodeGrid::hintFor(const QModelIndex& index) const {
    if (!index.isValid() || (index.flags() & Qt::ItemIsUserCheckable)) return {};
    const QString text = index.data(Qt::DisplayRole).toString();
    const int room = columnWidth(index.column()) - 6;
    return fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

bool CodeGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString hint = hintFor(indexAt(help->pos()));
        if (hint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), hint, viewport());
        return true;
    }
    return QTableView::viewportEvent(event);
}

void CodeGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // Only up and down: the code column never moves out of view.
    if (!index.isValid()) return;
    QTableView::scrollTo(model_->index(index.row(), 0), hint);
}
