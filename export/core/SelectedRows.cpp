#include "export/core/SelectedRows.h"

#include <algorithm>
#include <stdexcept>
#include <string>

void SelectedRows::Reset(uint32_t recordCount) {
    list_.clear();
    picked_.assign(static_cast<size_t>(recordCount) + 1, 0);
}

void SelectedRows::Clear() {
    list_.clear();
    std::fill(picked_.begin(), picked_.end(), 0);
}

void SelectedRows::SelectAll(TAdsTable& table) {
    const size_t count = table.PositionCount();
    Reset(table.Active() ? table.RecordCount() : 0);
    list_.reserve(count);
    for (size_t position = 0; position < count; ++position)
        Pick(table.RecNoAtPosition(position));
}

bool SelectedRows::Pick(uint32_t recno) {
    if (recno == 0 || recno >= picked_.size())
        throw std::out_of_range("Record " + std::to_string(recno) + " is not in the table");
    if (picked_[recno]) return false;
    picked_[recno] = 1;
    list_.push_back(TBookmark{recno});
    return true;
}

void SelectedRows::Unpick(const std::vector<uint32_t>& recnos) {
    size_t dropped = 0;
    for (uint32_t recno : recnos)
        if (Contains(recno)) {
            picked_[recno] = 0;
            ++dropped;
        }
    if (dropped == 0) return;
    std::erase_if(list_, [this](const TBookmark& row) { return picked_[row.recno] == 0; });
}
