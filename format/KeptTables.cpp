// B4, B8, B9, B10 and B11: every field keeps its offset and size; only texts
// are rebuilt and fill bytes cleared.
#include "Conversions.h"
#include "RecordPass.h"

namespace kvo {
namespace {

using namespace layout;

constexpr std::array kB8Layout = {
    Copy(0, 24, 0),    // 12 x word
    Text(24, 3, 24),   // ShortString[3]
    Text(28, 16, 28),  // ShortString[16]
    Text(45, 16, 45),  // ShortString[16]
    Text(62, 16, 62),  // ShortString[16]
    Fill(79),
};

constexpr std::array kB4Layout = {
    Copy(0, 24, 0),   // 12 x word
    Copy(24, 1, 24),  // byte
    Fill(25),
    Array(16, 2, 2, Copy(26, 2, 26)),  // array of 16 words
    Array(16, 2, 2, Copy(58, 2, 58)),  // array of 16 words
    Text(90, 3, 90),                   // ShortString[3]
    Text(94, 8, 94),                   // ShortString[8]
    Fill(103),
};

constexpr std::array kB9Layout = {
    Copy(0, 52, 0),    // 26 x word
    Copy(52, 32, 52),  // 16 x word
    Copy(84, 4, 84),   // 4 x byte
    Text(88, 3, 88),   // ShortString[3]
    Text(92, 3, 92),   // ShortString[3]
    Text(96, 6, 96),   // ShortString[6]
    Fill(103),
};

// B10, tracks of the track diagram.
constexpr std::array kB10Layout = {
    Copy(0, 2, 0),    // block number
    Copy(2, 2, 2),    // detector number ("Melder")
    Copy(4, 32, 4),   // 16 x word
    Text(36, 3, 36),  // ShortString[3]
    Text(40, 3, 40),  // ShortString[3]
    Copy(44, 1, 44),  // byte
    Fill(45),
};

constexpr std::array kB11Layout = {
    Copy(0, 14, 0),  // 7 x word
};

}  // namespace

void ConvertB8(std::span<kvoAllg::TkvoB8Satz> records) {
  ConvertRecordsInPlace<kB8Layout>(records);
}

void ConvertB4(const decltype(kvoAllg0::Tables::b4)& in, decltype(kvoAllg::Tables::b4)& out) {
  ConvertFixed<kB4Layout>(in, out);
}

void ConvertB9(std::span<kvoAllg::TkvoB9Satz> records) {
  ConvertRecordsInPlace<kB9Layout>(records);
}

void ConvertB10(std::span<kvoAllg::TkvoB10Satz> records) {
  ConvertRecordsInPlace<kB10Layout>(records);
}

void ConvertB11(const decltype(kvoAllg0::Tables::b11)& in, decltype(kvoAllg::Tables::b11)& out) {
  ConvertFixed<kB11Layout>(in, out);
}

}  // namespace kvo
