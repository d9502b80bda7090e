#include "TableSets.h"

#include <memory>

namespace kvo {

TableSets& ProcessTables() {
  // On the heap, and only when a run first asks: the fixed tables alone are
  // some 400 KB, and a failure to get them is that run's error to report.
  static const auto tables = std::make_unique<TableSets>();
  return *tables;
}

void ClearTables(TableSets& tables) {
  // Rebuilt in place: zero fixed tables, and the memory of the growable ones
  // released. Assigning a fresh set would build it on the stack first, which
  // a small stack cannot hold.
  std::destroy_at(&tables);
  std::construct_at(&tables);
}

}  // namespace kvo
