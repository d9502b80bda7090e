// B12 and B13, counted blocks of texts, and the fixed block B16.
#include "Conversions.h"
#include "RecordPass.h"

namespace kvo {
namespace {

using namespace layout;

constexpr std::array kB12Layout = {
    Text(0, 10, 0),    // ShortString[10]
    Text(11, 25, 11),  // ShortString[25]
};

constexpr std::array kB13Layout = {
    Text(0, 10, 0),             // ShortString[10]
    Fill(11), Copy(12, 2, 12),  // word
};

constexpr std::array kB16Layout = {
    Copy(0, 10, 0),   // 5 x word
    Copy(10, 3, 10),  // 3 x byte
    Fill(13),
};

// Version 1.1 sets this one byte, whatever version 1.0 holds there.
constexpr std::size_t kB16MarkRecord = 1000;
constexpr std::size_t kB16MarkOffset = 12;

}  // namespace

void ConvertB12(std::span<kvoAllg::TkvoB12Satz> records, std::size_t first) {
  // Record 0 is not converted: version 1.1 keeps it as zero bytes.
  if (first == 0 && !records.empty()) {
    records[0] = {};
    records = records.subspan(1);
  }
  ConvertRecordsInPlace<kB12Layout>(records);
}

void ConvertB13(std::span<kvoAllg::TkvoB13Satz> records) {
  ConvertRecordsInPlace<kB13Layout>(records);
}

void ConvertB16(const decltype(kvoAllg0::Tables::b16)& in, decltype(kvoAllg::Tables::b16)& out) {
  ConvertFixed<kB16Layout>(in, out);
  out[kB16MarkRecord][kB16MarkOffset] = 1;
}

}  // namespace kvo
