// The selection window's selected rows: an ordered list of remembered records.
// Select All fills it in the table's current order; a row picked afterwards
// goes to the end, an unpicked row leaves it. The export writes the rows in
// this order. Membership is kept per record number, so that asking about a
// row, picking one and dropping many stay cheap on a million records.
#pragma once

#include "data/AdsTable.h"

#include <cstdint>
#include <vector>

class SelectedRows {
  public:
    // Empties the list for a table of `recordCount` records.
    void Reset(uint32_t recordCount);
    void Clear();

    // Every record of the table's active order, first to last.
    void SelectAll(TAdsTable& table);

    bool Contains(uint32_t recno) const { return recno < picked_.size() && picked_[recno] != 0; }
    // Adds the record at the end; false when it is already in the list.
    bool Pick(uint32_t recno);
    // Drops the records given (those not in the list are ignored); the others
    // keep their order.
    void Unpick(const std::vector<uint32_t>& recnos);

    const std::vector<TBookmark>& List() const { return list_; }
    int Count() const { return static_cast<int>(list_.size()); }

  private:
    std::vector<uint8_t> picked_; // by record number
    std::vector<TBookmark> list_;
};
