// What the record store hands to a fax list when it lists a folder: one item per
// record with the columns the list shows. The desktop fax list and the vexo
// command implement the sink. The store calls it while it holds its lock, so a
// sink must not call back into the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/store/fax_record.h"

namespace vexo {

struct FaxListItem {
  CEOID oid = 0;             // the item's data
  std::uint16_t status = 0;  // property 101, the item's icon index
  std::string contact;       // column 1 (property 102)
  std::string telephone;     // column 2 (property 103)
  FileTime date;             // property 104
  std::string dateText;      // column 3: date as "%d-%d-%d %d:%d"
};

class FaxListSink {
 public:
  virtual ~FaxListSink() = default;
  // Removes every item before a listing.
  virtual void DeleteAllItems() = 0;
  // The number of records in the folder, given before the items.
  virtual void SetRecordCount(std::size_t count) = 0;
  // One record; items arrive in display order, top of the list first.
  virtual void AddItem(const FaxListItem& item) = 0;
};

}  // namespace vexo
