// The fourteen block conversions. Each fills one version 1.1 table from the
// same block's version 1.0 table and touches nothing else. A counted block
// is converted a window of records at a time, never held whole; those whose
// records keep their layout are converted where they lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kvoAllg.h"
#include "kvoAllg0.h"

namespace kvo {

// Fixed tables B1, B2, B3 and B5.
void ConvertB1(const decltype(kvoAllg0::Tables::b1)& in, decltype(kvoAllg::Tables::b1)& out);
void ConvertB2(const decltype(kvoAllg0::Tables::b2)& in, decltype(kvoAllg::Tables::b2)& out);
void ConvertB3(const decltype(kvoAllg0::Tables::b3)& in, decltype(kvoAllg::Tables::b3)& out);
void ConvertB5(const decltype(kvoAllg0::Tables::b5)& in, decltype(kvoAllg::Tables::b5)& out);

// Counted tables B6 and B7.
void ConvertB6(std::span<kvoAllg::TkvoB6Satz> records);
void ConvertB7(std::span<const kvoAllg0::TkvoB7Satz0> in, std::span<kvoAllg::TkvoB7Satz> out);

// Tables that keep their layout: B4, B8, B9, B10 and B11.
void ConvertB4(const decltype(kvoAllg0::Tables::b4)& in, decltype(kvoAllg::Tables::b4)& out);
void ConvertB8(std::span<kvoAllg::TkvoB8Satz> records);
void ConvertB9(std::span<kvoAllg::TkvoB9Satz> records);
void ConvertB10(std::span<kvoAllg::TkvoB10Satz> records);
void ConvertB11(const decltype(kvoAllg0::Tables::b11)& in, decltype(kvoAllg::Tables::b11)& out);

// Text tables B12 and B13, and B16.
// first: the index of records[0] in its block.
void ConvertB12(std::span<kvoAllg::TkvoB12Satz> records, std::size_t first);
void ConvertB13(std::span<kvoAllg::TkvoB13Satz> records);
void ConvertB16(const decltype(kvoAllg0::Tables::b16)& in, decltype(kvoAllg::Tables::b16)& out);

}  // namespace kvo
