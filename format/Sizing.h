// Sizing a counted block's table to its count, with the checks the runtime
// makes for a dynamic array.
#pragma once

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#include "Errors.h"
#include "Records.h"

namespace kvo {

// A count that cannot size a table of recordSize bytes: negative, or a table
// beyond the signed 32-bit range.
inline void CheckTableRange(std::int32_t count, std::size_t recordSize) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (count < 0 || static_cast<std::uint64_t>(count) * recordSize > kMax) {
    throw KvoError(kRangeErrorText);
  }
}

// The table gets count records, not initialised: whoever sizes it writes
// every byte.
template <class Rec>
void SizeTable(Growable<Rec>& table, std::int32_t count) {
  CheckTableRange(count, sizeof(Rec));
  try {
    table.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    throw KvoError(kOutOfMemoryText);
  } catch (const std::length_error&) {
    throw KvoError(kOutOfMemoryText);
  }
}

}  // namespace kvo
