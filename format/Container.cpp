#include "Container.h"

#include <algorithm>
#include <cstring>

#include "Conversions.h"
#include "Endian.h"
#include "Errors.h"
#include "Sizing.h"

namespace kvo {

std::size_t MemorySource::Read(std::span<std::uint8_t> out) {
  const std::size_t n = std::min(out.size(), bytes_.size() - pos_);
  if (n > 0) std::memcpy(out.data(), bytes_.data() + pos_, n);
  pos_ += n;
  return n;
}

std::size_t ReadFully(ByteSource& in, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::size_t n = in.Read(out.subspan(done));
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool CheckHeader0(std::span<const std::uint8_t> header) {
  // The stored header's length byte is 22, so a match always compares all
  // 23 bytes, and anything shorter than that cannot match.
  return header.size() >= kHeader0.size() &&
         std::equal(kHeader0.begin(), kHeader0.end(), header.begin());
}

namespace {

void ReadExact(ByteSource& in, std::span<std::uint8_t> out) {
  if (ReadFully(in, out) != out.size()) throw KvoError(kIncompleteText);
}

// Reads a count and its records. The count is checked before anything is
// allocated, against the larger record size of the two versions (recordSize11
// is the version 1.1 one), so that a count the conversion could not size
// stops the run here, before the backup is made.
template <class Rec0>
std::int32_t ReadCounted(ByteSource& in, Growable<Rec0>& table, std::size_t recordSize11,
                         bool negativeAllowed = false) {
  std::uint8_t raw[4];
  ReadExact(in, raw);
  const std::int32_t count = LoadLE32(raw);
  if (count < 0 && negativeAllowed) return count;
  CheckTableRange(count, std::max(sizeof(Rec0), recordSize11));
  if (static_cast<std::uint64_t>(count) * sizeof(Rec0) > in.Remaining()) {
    throw KvoError(kIncompleteText);
  }
  SizeTable(table, count);
  ReadExact(in, Bytes(table));
  return count;
}

// Byte for byte: the version 1.1 table takes the records over as they are.
template <class Rec>
void Carry(Growable<Rec>& in, std::int32_t count, Growable<Rec>& out) {
  // A negative count is carried as read, with no records behind it.
  if (in.size() != static_cast<std::size_t>(std::max(count, 0))) throw KvoError(kRangeErrorText);
  out = std::move(in);
}

template <class Rec>
void WriteCounted(ByteSink& out, std::int32_t count, const Growable<Rec>& table) {
  std::uint8_t raw[4];
  StoreLE32(raw, count);
  out.Write(raw);
  if (count <= 0) return;
  if (table.size() != static_cast<std::size_t>(count)) throw KvoError(kRangeErrorText);
  out.Write(Bytes(table));
}

}  // namespace

Counts ReadDataFile0(ByteSource& in, TableSets& tables) {
  using namespace kvoAllg;
  kvoAllg0::Tables& t = tables.v10;
  Counts c;
  ReadExact(in, Bytes(t.b1));
  ReadExact(in, Bytes(t.b2));
  ReadExact(in, Bytes(t.b3));
  ReadExact(in, Bytes(t.b4));
  ReadExact(in, Bytes(t.b5));
  c.b6 = ReadCounted(in, t.b6, sizeof(TkvoB6Satz));
  c.b7 = ReadCounted(in, t.b7, sizeof(TkvoB7Satz));
  c.b8 = ReadCounted(in, t.b8, sizeof(TkvoB8Satz));
  c.b9 = ReadCounted(in, t.b9, sizeof(TkvoB9Satz));
  c.b10 = ReadCounted(in, t.b10, sizeof(TkvoB10Satz));
  ReadExact(in, Bytes(t.b11));
  c.b12 = ReadCounted(in, t.b12, sizeof(TkvoB12Satz));
  c.b13 = ReadCounted(in, t.b13, sizeof(TkvoB13Satz));
  ReadExact(in, Bytes(tables.v11.b14));
  ReadExact(in, Bytes(tables.v11.b15));
  ReadExact(in, Bytes(t.b16));
  c.b17 = ReadCounted(in, t.b17, sizeof(TkvoZNummer), /*negativeAllowed=*/true);
  c.b18 = ReadCounted(in, t.b18, sizeof(TkvoB18Satz), /*negativeAllowed=*/true);
  ReadExact(in, Bytes(t.b19));
  return c;
}

void CarryBlocks(TableSets& tables, const Counts& counts) {
  Carry(tables.v10.b17, counts.b17, tables.v11.b17);
  Carry(tables.v10.b18, counts.b18, tables.v11.b18);
  tables.v11.b19 = tables.v10.b19;
}

void ConvertTables(TableSets& tables, const Counts& c) {
  kvoAllg0::Tables& in = tables.v10;
  kvoAllg::Tables& out = tables.v11;
  ConvertB1(in.b1, out.b1);
  ConvertB2(in.b2, out.b2);
  ConvertB3(in.b3, out.b3);
  ConvertB5(in.b5, out.b5);
  ConvertB6(std::move(in.b6), c.b6, out.b6);
  ConvertB7(in.b7, c.b7, out.b7);
  ConvertB8(std::move(in.b8), c.b8, out.b8);
  ConvertB4(in.b4, out.b4);
  ConvertB9(std::move(in.b9), c.b9, out.b9);
  ConvertB10(std::move(in.b10), c.b10, out.b10);
  ConvertB11(in.b11, out.b11);
  ConvertB12(std::move(in.b12), c.b12, out.b12);
  ConvertB13(std::move(in.b13), c.b13, out.b13);
  ConvertB16(in.b16, out.b16);
  CarryBlocks(tables, c);
}

void WriteDataFile(ByteSink& out, const TableSets& tables, const Counts& c) {
  const kvoAllg::Tables& t = tables.v11;
  out.Write(kHeader);
  out.Write(Bytes(t.b1));
  out.Write(Bytes(t.b2));
  out.Write(Bytes(t.b3));
  out.Write(Bytes(t.b4));
  out.Write(Bytes(t.b5));
  WriteCounted(out, c.b6, t.b6);
  WriteCounted(out, c.b7, t.b7);
  WriteCounted(out, c.b8, t.b8);
  WriteCounted(out, c.b9, t.b9);
  WriteCounted(out, c.b10, t.b10);
  out.Write(Bytes(t.b11));  // the same bytes as one write per record
  WriteCounted(out, c.b12, t.b12);
  WriteCounted(out, c.b13, t.b13);
  out.Write(Bytes(t.b14));
  out.Write(Bytes(t.b15));
  out.Write(Bytes(t.b16));
  WriteCounted(out, c.b17, t.b17);
  WriteCounted(out, c.b18, t.b18);
  out.Write(Bytes(t.b19));
}

std::uint64_t ConvertedSize(const Counts& c) {
  using T = kvoAllg::Tables;
  auto records = [](std::int32_t n, std::size_t size) -> std::uint64_t {
    return n > 0 ? static_cast<std::uint64_t>(n) * size : 0;
  };
  const std::uint64_t fixed = sizeof(T::b1) + sizeof(T::b2) + sizeof(T::b3) + sizeof(T::b4) +
                              sizeof(T::b5) + sizeof(T::b11) + sizeof(T::b14) + sizeof(T::b15) +
                              sizeof(T::b16) + sizeof(T::b19);
  return kHeader.size() + fixed + 9 * 4 + records(c.b6, sizeof(kvoAllg::TkvoB6Satz)) +
         records(c.b7, sizeof(kvoAllg::TkvoB7Satz)) + records(c.b8, sizeof(kvoAllg::TkvoB8Satz)) +
         records(c.b9, sizeof(kvoAllg::TkvoB9Satz)) + records(c.b10, sizeof(kvoAllg::TkvoB10Satz)) +
         records(c.b12, sizeof(kvoAllg::TkvoB12Satz)) +
         records(c.b13, sizeof(kvoAllg::TkvoB13Satz)) +
         records(c.b17, sizeof(kvoAllg::TkvoZNummer)) +
         records(c.b18, sizeof(kvoAllg::TkvoB18Satz));
}

std::vector<std::uint8_t> ConvertImage(std::span<const std::uint8_t> v10, TableSets& tables) {
  if (!CheckHeader0(v10)) throw WrongVersion();
  MemorySource in(v10.subspan(kHeader0.size()));
  ClearTables(tables);
  const Counts counts = ReadDataFile0(in, tables);
  ConvertTables(tables, counts);
  std::vector<std::uint8_t> out;
  out.reserve(ConvertedSize(counts));
  VectorSink sink(out);
  WriteDataFile(sink, tables, counts);
  return out;
}

}  // namespace kvo
