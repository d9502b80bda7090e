#include "TableSets.h"

#include <memory>

namespace kvo {

TableSets& ProcessTables() {
  // On the heap: the fixed tables alone are some 400 KB.
  static const auto tables = std::make_unique<TableSets>();
  return *tables;
}

void ClearTables(TableSets& tables) {
  // Assigning fresh sets zeroes the fixed tables and, by moving empty vectors
  // in, frees what the growable tables held.
  tables.v10 = {};
  tables.v11 = {};
}

}  // namespace kvo
