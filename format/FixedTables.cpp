// B1, B2, B3 and B5: the fixed tables in front of the counted blocks.
#include "Conversions.h"
#include "RecordPass.h"

namespace kvo {
namespace {

using namespace layout;

// B1, main tracks: four words and four bytes are cleared in version 1.1.
constexpr std::array kB1Layout = {
    Copy(0, 2, 0),      // block number
    Copy(2, 2, 2),      // main-block number ("Hauptblock")
    Copy(4, 90, 4),     // 45 x word
    Zero(94, 8),        // 4 x word
    Text(102, 3, 102),  // ShortString[3]
    Text(106, 6, 106),  // ShortString[6]
    Text(113, 6, 113),  // ShortString[6]
    Copy(120, 9, 120),  // 9 x byte
    Zero(129, 4),       // 4 x byte
    Fill(133),
};

constexpr std::array kB2Layout = {
    Copy(0, 6, 0),  // 3 x word
    Copy(6, 1, 6),  // byte
    Fill(7),
};

// B3 grows from 96 to 98 bytes: a word at 78, everything behind it moves by 2.
constexpr std::array kB3Layout = {
    Copy(0, 78, 0),    // 39 x word
    SetMinus1(78, 2),  // the inserted word
    Copy(80, 5, 78),   // 5 x byte
    Zero(85, 1),       // byte
    Text(86, 3, 84),   // ShortString[3]
    Text(90, 6, 88),   // ShortString[6]
    Fill(97),
};

constexpr std::array kB5Layout = {
    Copy(0, 2, 0),                       // word
    Text(2, 16, 2),                      // ShortString[16]
    Text(19, 6, 19),                     // ShortString[6]
    Copy(26, 16, 26),                    // 8 x word
    Copy(42, 12, 42),                    // 12 x byte
    Copy(54, 34, 54),                    // 17 x word
    Array(5, 2, 2, Copy(88, 2, 88)),     // array of 5 words
    Array(20, 2, 2, Copy(98, 2, 98)),    // array of 20 words
    Array(20, 2, 2, Copy(138, 2, 138)),  // array of 20 words
};

}  // namespace

void ConvertB1(const decltype(kvoAllg0::Tables::b1)& in, decltype(kvoAllg::Tables::b1)& out) {
  ConvertFixed<kB1Layout>(in, out);
}

void ConvertB2(const decltype(kvoAllg0::Tables::b2)& in, decltype(kvoAllg::Tables::b2)& out) {
  ConvertFixed<kB2Layout>(in, out);
}

void ConvertB3(const decltype(kvoAllg0::Tables::b3)& in, decltype(kvoAllg::Tables::b3)& out) {
  ConvertFixed<kB3Layout>(in, out);
}

void ConvertB5(const decltype(kvoAllg0::Tables::b5)& in, decltype(kvoAllg::Tables::b5)& out) {
  ConvertFixed<kB5Layout>(in, out);
}

}  // namespace kvo
