#include "ui/VirtualListBox.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>
#include <QTextOption>

#include <algorithm>

namespace ui {

namespace {
constexpr int kRowHeight = 13;
}

class VirtualListBox::Rows : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count_ || !text_)
            return {};
        return QString::fromStdString(text_(index.row()));
    }

    void setCount(int rows) {
        rows = std::max(rows, 0);
        if (rows > count_) {
            beginInsertRows(QModelIndex(), count_, rows - 1);
            count_ = rows;
            endInsertRows();
        } else if (rows < count_) {
            beginRemoveRows(QModelIndex(), rows, count_ - 1);
            count_ = rows;
            endRemoveRows();
        }
    }

    void refresh() {
        if (count_ > 0) emit dataChanged(index(0), index(count_ - 1));
    }

    int count_ = 0;
    ItemText text_;
};

// Paints a row with its tab characters expanded at the list's tab stop.
class VirtualListBox::RowPainter : public QStyledItemDelegate {
  public:
    explicit RowPainter(VirtualListBox* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        QTextOption textOption(Qt::AlignLeft | Qt::AlignVCenter);
        textOption.setWrapMode(QTextOption::NoWrap);
        const qreal stop = list_->tabStopPixels();
        if (stop > 0) textOption.setTabStopDistance(stop);
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        painter->save();
        painter->setFont(opt.font);
        const bool selected = opt.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        painter->setPen(
            opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        // Tab stops count from the row's left edge.
        QRectF area(opt.rect.left() + 2, textRect.top(), opt.rect.width() - 2, textRect.height());
        painter->setClipRect(opt.rect);
        painter->drawText(area, text, textOption);
        painter->restore();

        // The row the keyboard is on, while the list has the focus: a focus
        // frame every style draws, also on a row that is not selected.
        if (list_->hasFocus() && index == list_->currentIndex()) {
            QStyleOptionFocusRect frame;
            frame.initFrom(list_);
            frame.rect = opt.rect.adjusted(0, 0, -1, -1);
            frame.backgroundColor =
                opt.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, painter, widget);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(kRowHeight, option.fontMetrics.height()));
        return size;
    }

  private:
    VirtualListBox* list_;
};

VirtualListBox::VirtualListBox(QWidget* parent) : QListView(parent) {
    rows_ = new Rows(this);
    setModel(rows_);
    setItemDelegate(new RowPainter(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VirtualListBox::syncItemIndex);
    connect(rows_, &QAbstractItemModel::rowsRemoved, this, &VirtualListBox::syncItemIndex);
}

void VirtualListBox::setItemTextCallback(ItemText callback) {
    rows_->text_ = std::move(callback);
    rows_->refresh();
}

int VirtualListBox::count() const {
    return rows_->count_;
}

void VirtualListBox::setCount(int rows) {
    // Deselect before the rows go: left alone, the view would move the
    // selection to a neighbouring row.
    if (itemIndex_ >= rows) setItemIndex(-1);
    if (currentIndex().row() >= rows)
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    rows_->setCount(rows);
    syncItemIndex();
}

void VirtualListBox::setItemIndex(int index) {
    if (index < 0 || index >= count()) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    } else {
        const QModelIndex row = rows_->index(index);
        selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
        scrollTo(row);
    }
    syncItemIndex();
}

QItemSelectionModel::SelectionFlags VirtualListBox::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::NoUpdate;
    return command;
}

void VirtualListBox::focusInEvent(QFocusEvent* event) {
    // A list reached by the keyboard shows where it stands: the selected row,
    // or the first row when none is selected (without selecting it).
    if (!currentIndex().isValid() && count() > 0) {
        const int row = itemIndex_ >= 0 ? itemIndex_ : 0;
        selectionModel()->setCurrentIndex(rows_->index(row), QItemSelectionModel::NoUpdate);
    }
    QListView::focusInEvent(event);
    viewport()->update();
}

void VirtualListBox::focusOutEvent(QFocusEvent* event) {
    QListView::focusOutEvent(event);
    viewport()->update();
}

void VirtualListBox::setTabStopDialogUnits(int units) {
    tabStopUnits_ = units;
    viewport()->update();
}

qreal VirtualListBox::tabStopPixels() const {
    // A horizontal dialog unit is a quarter of the font's average character width.
    return tabStopUnits_ * fontMetrics().averageCharWidth() / 4.0;
}

QString VirtualListBox::itemText(int row) const {
    return rows_->data(rows_->index(row), Qt::DisplayRole).toString();
}

void VirtualListBox::syncItemIndex() {
    const QModelIndexList selected = selectionModel()->selectedRows();
    const int now = selected.isEmpty() ? -1 : selected.front().row();
    if (now == itemIndex_) return;
    itemIndex_ = now;
    emit itemIndexChanged(now);
}

} // namespace ui
