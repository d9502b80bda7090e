// The fourteen block conversions. Each fills one version 1.1 table from the
// same block's version 1.0 table (and, for a counted block, its count) and
// touches nothing else. Counted blocks whose records keep their layout take
// the version 1.0 table over (&&) and convert it where it lies.
#pragma once

#include <cstdint>

#include "kvoAllg.h"
#include "kvoAllg0.h"

namespace kvo {

// Fixed tables B1, B2, B3 and B5.
void ConvertB1(const decltype(kvoAllg0::Tables::b1)& in, decltype(kvoAllg::Tables::b1)& out);
void ConvertB2(const decltype(kvoAllg0::Tables::b2)& in, decltype(kvoAllg::Tables::b2)& out);
void ConvertB3(const decltype(kvoAllg0::Tables::b3)& in, decltype(kvoAllg::Tables::b3)& out);
void ConvertB5(const decltype(kvoAllg0::Tables::b5)& in, decltype(kvoAllg::Tables::b5)& out);

// Counted tables B6 and B7.
void ConvertB6(decltype(kvoAllg0::Tables::b6)&& in, std::int32_t count,
               decltype(kvoAllg::Tables::b6)& out);
void ConvertB7(const decltype(kvoAllg0::Tables::b7)& in, std::int32_t count,
               decltype(kvoAllg::Tables::b7)& out);

// Tables that keep their layout: B4, B8, B9, B10 and B11.
void ConvertB4(const decltype(kvoAllg0::Tables::b4)& in, decltype(kvoAllg::Tables::b4)& out);
void ConvertB8(decltype(kvoAllg0::Tables::b8)&& in, std::int32_t count,
               decltype(kvoAllg::Tables::b8)& out);
void ConvertB9(decltype(kvoAllg0::Tables::b9)&& in, std::int32_t count,
               decltype(kvoAllg::Tables::b9)& out);
void ConvertB10(decltype(kvoAllg0::Tables::b10)&& in, std::int32_t count,
                decltype(kvoAllg::Tables::b10)& out);
void ConvertB11(const decltype(kvoAllg0::Tables::b11)& in, decltype(kvoAllg::Tables::b11)& out);

// Text tables B12 and B13, and B16.
void ConvertB12(decltype(kvoAllg0::Tables::b12)&& in, std::int32_t count,
                decltype(kvoAllg::Tables::b12)& out);
void ConvertB13(decltype(kvoAllg0::Tables::b13)&& in, std::int32_t count,
                decltype(kvoAllg::Tables::b13)& out);
void ConvertB16(const decltype(kvoAllg0::Tables::b16)& in, decltype(kvoAllg::Tables::b16)& out);

}  // namespace kvo
