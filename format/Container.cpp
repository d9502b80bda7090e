#include "Container.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

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

Version VersionOf(std::span<const std::uint8_t> header) {
  if (CheckHeader0(header)) return Version::V10;
  if (header.size() >= kHeader.size() && std::equal(kHeader.begin(), kHeader.end(), header.begin()))
    return Version::V11;
  return Version::Other;
}

namespace {

// The blocks of a version 1.1 file behind its header, in their order: the
// size of a record, and how many records a fixed block has (a counted one
// has its count in front).
struct BlockShape {
  int block;
  std::size_t recordSize;
  std::size_t fixedRecords;  // 0: counted
  std::int32_t Counts::*count = nullptr;
};

template <class Table>
constexpr BlockShape FixedBlock(int block) {
  using Rec = std::remove_cvref_t<decltype(std::declval<Table>()[0])>;
  return {block, sizeof(Rec), sizeof(Table) / sizeof(Rec)};
}

template <class Rec>
constexpr BlockShape CountedBlock(int block, std::int32_t Counts::*count) {
  return {block, sizeof(Rec), 0, count};
}

using T11 = kvoAllg::Tables;
constexpr BlockShape kBlocks11[] = {
    FixedBlock<decltype(T11::b1)>(1),
    FixedBlock<decltype(T11::b2)>(2),
    FixedBlock<decltype(T11::b3)>(3),
    FixedBlock<decltype(T11::b4)>(4),
    FixedBlock<decltype(T11::b5)>(5),
    CountedBlock<kvoAllg::TkvoB6Satz>(6, &Counts::b6),
    CountedBlock<kvoAllg::TkvoB7Satz>(7, &Counts::b7),
    CountedBlock<kvoAllg::TkvoB8Satz>(8, &Counts::b8),
    CountedBlock<kvoAllg::TkvoB9Satz>(9, &Counts::b9),
    CountedBlock<kvoAllg::TkvoB10Satz>(10, &Counts::b10),
    FixedBlock<decltype(T11::b11)>(11),
    CountedBlock<kvoAllg::TkvoB12Satz>(12, &Counts::b12),
    CountedBlock<kvoAllg::TkvoB13Satz>(13, &Counts::b13),
    {14, sizeof(T11::b14), 1},
    {15, sizeof(T11::b15), 1},
    FixedBlock<decltype(T11::b16)>(16),
    CountedBlock<kvoAllg::TkvoZNummer>(17, &Counts::b17),
    CountedBlock<kvoAllg::TkvoB18Satz>(18, &Counts::b18),
    {19, sizeof(T11::b19), 1},
};

// A block's records, as its count or its fixed size gives them.
std::uint64_t RecordsOf(const BlockShape& b, const Counts& c) {
  if (b.count == nullptr) return b.fixedRecords;
  return c.*b.count > 0 ? static_cast<std::uint64_t>(c.*b.count) : 0;
}

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
  std::uint64_t size = kHeader.size();
  for (const BlockShape& b : kBlocks11) {
    size += (b.count != nullptr ? 4 : 0) + RecordsOf(b, c) * b.recordSize;
  }
  return size;
}

Place PlaceOf(std::uint64_t offset, const Counts& c) {
  if (offset < kHeader.size()) return {0, 0};
  offset -= kHeader.size();
  for (const BlockShape& b : kBlocks11) {
    if (b.count != nullptr) {
      if (offset < 4) return {b.block, 0};
      offset -= 4;
    }
    const std::uint64_t size = RecordsOf(b, c) * b.recordSize;
    if (offset < size) return {b.block, offset / b.recordSize + 1};
    offset -= size;
  }
  return {20, 0};
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
