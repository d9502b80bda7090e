// The record pass shared by all conversions: version 1.1 record i from
// version 1.0 record i, by the block's layout table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Layout.h"
#include "Sizing.h"

namespace kvo {

template <const auto& Rows, class InRec, class OutRec>
constexpr bool kLayoutFits = layout::CoversExactly(Rows, sizeof(OutRec), sizeof(InRec));

template <const auto& Rows, class InRec, class OutRec, std::size_t N>
void ConvertFixed(const Fixed<InRec, N>& in, Fixed<OutRec, N>& out) {
  static_assert(kLayoutFits<Rows, InRec, OutRec>, "layout table does not cover the record");
  for (std::size_t i = 0; i < N; ++i) layout::ApplyRecord<Rows>(in[i].data(), out[i].data());
}

// Sizes out to count records and converts every one of them.
template <const auto& Rows, class InRec, class OutRec>
void ConvertCounted(const Growable<InRec>& in, std::int32_t count, Growable<OutRec>& out) {
  static_assert(kLayoutFits<Rows, InRec, OutRec>, "layout table does not cover the record");
  SizeTable(out, count);
  // The reader sized the input to the same count; anything else is an index
  // out of range, not a file to convert.
  if (in.size() != out.size()) throw KvoError(kRangeErrorText);
  for (std::size_t i = 0; i < out.size(); ++i)
    layout::ApplyRecord<Rows>(in[i].data(), out[i].data());
}

// For blocks whose records keep their size and their fields' offsets: the
// version 1.1 table takes over the version 1.0 table's memory, and each record
// is rebuilt where it lies; records before first become zero. The same bytes
// as ConvertCounted, without a second copy of the block in memory.
template <const auto& Rows, class Rec>
void ConvertCountedInPlace(Growable<Rec>&& in, std::int32_t count, Growable<Rec>& out,
                           std::size_t first = 0) {
  static_assert(kLayoutFits<Rows, Rec, Rec>, "layout table does not cover the record");
  CheckTableRange(count, sizeof(Rec));
  if (in.size() != static_cast<std::size_t>(count)) throw KvoError(kRangeErrorText);
  out = std::move(in);
  for (std::size_t i = 0; i < first && i < out.size(); ++i) out[i] = {};
  for (std::size_t i = first; i < out.size(); ++i) layout::ApplyRecordInPlace<Rows>(out[i].data());
}

}  // namespace kvo
