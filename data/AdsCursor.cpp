// TAdsTable's cursor: moving through the records in natural order or in the
// active index order (skipping what is hidden), bookmarks, positions and
// counts. The orders themselves live in AdsOrders.cpp.
#include "data/AdsTablePrivate.h"

using xbase::RecordView;
using namespace xbase::tabledetail;

bool TAdsTable::visible(uint32_t recno) const {
    if (!dbf_.recordsHeld()) fail(AE_INVALID_VALUE, "The records are not held");
    if (!settings().ShowDeleted && dbf_.isDeleted(recno)) return false;
    if (filter_.valid() && !filter_.test(dbf_.view(recno))) return false;
    return true;
}

size_t TAdsTable::orderSize() const {
    return active_ ? active_->entries.size() : dbf_.recordCount();
}

uint32_t TAdsTable::recnoAt(size_t position) const {
    return active_ ? active_->entries.recnos[position] : static_cast<uint32_t>(position + 1);
}

void TAdsTable::positionOn(uint32_t recno) {
    recno_ = recno;
    eof_ = bof_ = false;
    if (!active_) {
        position_ = recno - 1;
        return;
    }
    ensureBuilt(*active_);
    Order& o = *active_;
    if (!o.positionsValid) {
        o.positionOf.assign(dbf_.recordCount() + 1, 0);
        for (size_t i = 0; i < o.entries.size(); ++i)
            if (o.entries.recnos[i] < o.positionOf.size())
                o.positionOf[o.entries.recnos[i]] = static_cast<uint32_t>(i + 1);
        o.positionsValid = true;
    }
    uint32_t p = recno < o.positionOf.size() ? o.positionOf[recno] : 0;
    if (p == 0) {
        // The record is not in this order (a condition leaves it out).
        position_ = 0;
        settle(true);
        return;
    }
    position_ = p - 1;
}

// Moves from position_ to the nearest visible record in the given direction.
void TAdsTable::settle(bool forward) {
    const size_t n = orderSize();
    if (forward) {
        while (position_ < n && !visible(recnoAt(position_)))
            ++position_;
        if (position_ >= n) {
            eof_ = true;
            return;
        }
    } else {
        while (position_ != static_cast<size_t>(-1) && position_ < n &&
               !visible(recnoAt(position_)))
            --position_;
        if (position_ == static_cast<size_t>(-1) || position_ >= n) {
            bof_ = true;
            return;
        }
    }
    recno_ = recnoAt(position_);
}

std::vector<TBookmark> TAdsTable::VisibleBookmarks() {
    requireOpen("read the records");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (active_) ensureBuilt(*active_);
    const size_t n = orderSize();
    std::vector<TBookmark> rows;
    rows.reserve(n);
    // Without a filter and without a deleted record to hide, every record in
    // the order is visited: no record needs to be read for it.
    const bool everyRecord =
        !filter_.valid() && (settings().ShowDeleted || dbf_.deletedCount() == 0);
    for (size_t p = 0; p < n; ++p) {
        const uint32_t recno = recnoAt(p);
        if (everyRecord || visible(recno)) rows.push_back(TBookmark{recno});
    }
    return rows;
}

void TAdsTable::First() {
    requireOpen("move to the first record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (active_) ensureBuilt(*active_);
    position_ = 0;
    recno_ = 0;
    eof_ = bof_ = false;
    settle(true);
    if (eof_) {
        bof_ = true;
        recno_ = 0;
    }
    bof_ = true;
    notify(TableEvent::ScrollChanged);
}

void TAdsTable::Last() {
    requireOpen("move to the last record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (active_) ensureBuilt(*active_);
    recno_ = 0;
    eof_ = bof_ = false;
    const size_t n = orderSize();
    position_ = n == 0 ? static_cast<size_t>(-1) : n - 1;
    settle(false);
    if (bof_) {
        eof_ = true;
        recno_ = 0;
    }
    eof_ = true;
    notify(TableEvent::ScrollChanged);
}

void TAdsTable::Next() {
    requireOpen("move to the next record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (recno_ == 0) {
        eof_ = true;
        return;
    }
    if (active_ && active_->dirty) positionOn(recno_);
    const uint32_t here = recno_;
    const size_t herePosition = position_;
    bof_ = false;
    ++position_;
    settle(true);
    if (eof_) {
        recno_ = here;
        position_ = herePosition;
    }
    notify(TableEvent::ScrollChanged);
}

void TAdsTable::Prior() {
    requireOpen("move to the prior record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (recno_ == 0) {
        bof_ = true;
        return;
    }
    if (active_ && active_->dirty) positionOn(recno_);
    const uint32_t here = recno_;
    const size_t herePosition = position_;
    eof_ = false;
    --position_;
    settle(false);
    if (bof_) {
        recno_ = here;
        position_ = herePosition;
    }
    notify(TableEvent::ScrollChanged);
}

int TAdsTable::MoveBy(int distance) {
    int moved = 0;
    DisableControls();
    try {
        while (distance > 0 && !eof_) {
            Next();
            if (!eof_) ++moved;
            --distance;
        }
        while (distance < 0 && !bof_) {
            Prior();
            if (!bof_) --moved;
            ++distance;
        }
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
    return moved;
}

bool TAdsTable::IsEmpty() {
    requireOpen("read the table");
    return recno_ == 0;
}

void TAdsTable::GotoBookmark(const TBookmark& bookmark) {
    requireOpen("go to a bookmark");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (!BookmarkValid(bookmark)) fail(AE_NO_CURRENT_RECORD, "Invalid bookmark");
    positionOn(bookmark.recno);
    notify(TableEvent::ScrollChanged);
}

bool TAdsTable::BookmarkValid(const TBookmark& bookmark) const {
    return Active() && bookmark.recno >= 1 && bookmark.recno <= dbf_.recordCount();
}

uint32_t TAdsTable::RecordCount() {
    requireOpen("count records");
    const uint32_t n = dbf_.recordCount();
    bool useFilter = filter_.valid() && AdsTableOptions.AdsFilterOptions == RESPECT_WHEN_COUNTING;
    if (!useFilter) return settings().ShowDeleted ? n : n - dbf_.deletedCount();
    uint32_t count = 0;
    xbase::RecordScan scan(dbf_);
    for (uint32_t r = 1; r <= n; ++r) {
        const RecordView view = scan.view(r);
        if (!settings().ShowDeleted && view.deleted()) continue;
        if (useFilter && !filter_.test(view)) continue;
        ++count;
    }
    return count;
}

void TAdsTable::Prefetch(const TBookmark& bookmark) const {
    if (!Active() || bookmark.recno < 1 || bookmark.recno > dbf_.recordCount()) return;
    const char* record = dbf_.record(bookmark.recno);
    prefetch(record);
    prefetch(record + dbf_.recordLength() - 1);
    if (active_ && active_->positionsValid && bookmark.recno < active_->positionOf.size())
        prefetch(&active_->positionOf[bookmark.recno]);
}

size_t TAdsTable::PositionCount() {
    if (!Active()) return 0;
    if (active_) ensureBuilt(*active_);
    return orderSize();
}

uint32_t TAdsTable::RecNoAtPosition(size_t position) {
    if (position >= PositionCount())
        fail(AE_NO_CURRENT_RECORD,
             "Position " + std::to_string(position) + " is outside the order of " + dbf_.path());
    return recnoAt(position);
}

size_t TAdsTable::CurrentPosition() {
    if (!Active() || recno_ == 0) return npos;
    if (active_) ensureBuilt(*active_);
    if (position_ < orderSize() && recnoAt(position_) == recno_) return position_;
    positionOn(recno_);
    return recno_ != 0 && position_ < orderSize() && recnoAt(position_) == recno_ ? position_
                                                                                  : npos;
}
