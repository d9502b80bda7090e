// The record pass shared by all conversions: version 1.1 record i from
// version 1.0 record i, by the block's layout table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

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

// A window of a counted block's records: version 1.1 record i from version
// 1.0 record i.
template <const auto& Rows, class InRec, class OutRec>
void ConvertRecords(std::span<const InRec> in, std::span<OutRec> out) {
  static_assert(kLayoutFits<Rows, InRec, OutRec>, "layout table does not cover the record");
  // The caller sized both windows alike; anything else is an index out of
  // range, not a file to convert.
  if (in.size() != out.size()) throw KvoError(kRangeErrorText);
  for (std::size_t i = 0; i < out.size(); ++i)
    layout::ApplyRecord<Rows>(in[i].data(), out[i].data());
}

// For blocks whose records keep their size and their fields' offsets: each
// record of the window is rebuilt where it lies. The same bytes as
// ConvertRecords, without a second copy of the window.
template <const auto& Rows, class Rec>
void ConvertRecordsInPlace(std::span<Rec> records) {
  static_assert(kLayoutFits<Rows, Rec, Rec>, "layout table does not cover the record");
  for (Rec& r : records) layout::ApplyRecordInPlace<Rows>(r.data());
}

}  // namespace kvo
