// Both table sets together, and the one process-wide instance the tool works
// on. Everything else takes the tables it needs as arguments.
#pragma once

#include "kvoAllg.h"
#include "kvoAllg0.h"

namespace kvo {

// After ConvertTables the counted tables whose records keep their layout have
// moved from v10 into v11; nothing reads them there after that.
struct TableSets {
  kvoAllg0::Tables v10;
  kvoAllg::Tables v11;
};

// The tables of the running program: zero and empty at start, cleared at the
// start of every run, kept until the next run or the end of the program.
TableSets& ProcessTables();

// Back to the start-up state: fixed tables zero, growable tables empty and
// their memory released, so a small run after a large one holds nothing of it.
void ClearTables(TableSets& tables);

}  // namespace kvo
