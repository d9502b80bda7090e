// B6 and B7: the first two counted blocks.
#include "Conversions.h"
#include "RecordPass.h"

namespace kvo {
namespace {

using namespace layout;

constexpr std::array kB6Layout = {
    Copy(0, 118, 0),    // 59 x word
    Zero(118, 6),       // 3 x word
    Text(124, 3, 124),  // ShortString[3]
    Text(128, 6, 128),  // ShortString[6]
    Copy(135, 5, 135),  // 5 x byte
};

// Six bytes in both versions; group j starts at 68 + 6j.
constexpr std::array kB7Group = {
    Copy(0, 2, 0),  // word
    Text(2, 1, 2),  // ShortString[1]
    Copy(4, 2, 4),  // word
};

// B7 grows from 330 to 350 bytes: the twenty short texts widen from four
// characters to five. A version 1.0 length of 5 or more takes its fifth
// character from the byte behind the field, which still lies in the record.
constexpr std::array kB7Layout = {
    Text(0, 18, 0),  // ShortString[18]
    Fill(19),
    Copy(20, 44, 20),                    // 22 x word
    SetMinus1(64, 4),                    // 2 x word
    Groups(68, 20, 6, 68, 6, kB7Group),  // 20 groups, stride 6
    Array(20, 6, 5, Text(188, 5, 188)),  // ShortString[4] -> ShortString[5]
    Array(20, 2, 2, Copy(308, 2, 288)),  // array of 20 words, moved by 20
    Copy(348, 1, 328),                   // byte, moved by 20
    Fill(349),
};

}  // namespace

void ConvertB6(std::span<kvoAllg::TkvoB6Satz> records) {
  ConvertRecordsInPlace<kB6Layout>(records);
}

void ConvertB7(std::span<const kvoAllg0::TkvoB7Satz0> in, std::span<kvoAllg::TkvoB7Satz> out) {
  ConvertRecords<kB7Layout>(in, out);
}

}  // namespace kvo
