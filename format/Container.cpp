#include "Container.h"

#include <algorithm>
#include <string_view>
#include <type_traits>
#include <utility>

#include "Conversions.h"
#include "Endian.h"
#include "Errors.h"
#include "Sizing.h"

namespace kvo {

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
  // A data file's header of another version: its length byte and "Ver. ".
  constexpr std::string_view kStart = "\x16Ver. ";
  const bool like =
      header.size() >= kStart.size() && std::equal(kStart.begin(), kStart.end(), header.begin());
  return like ? Version::Unknown : Version::Other;
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

// One pass over the blocks behind a version 1.0 header, in the file's order.
// Surveying, it reads the counts and jumps over everything else; otherwise
// it reads every block, and converting, converts and writes it before the
// next is read.
class Pass {
 public:
  enum class Mode { Survey, Check, Convert };

  Pass(ByteSource& in, ByteSink* out, Mode mode, std::size_t windowBytes, Resumption* resume)
      : in_(in),
        out_(out),
        mode_(mode),
        windowBytes_(std::max<std::size_t>(windowBytes, 1)),
        resume_(resume) {}

  // The version 1.1 header, before the blocks.
  void Header() {
    if (mode_ != Mode::Convert || !Due()) return;
    out_->Write(kHeader);
    Done();
  }

  // A fixed block: its version 1.0 table converted into its version 1.1 one.
  template <class In, class Out, class Convert>
  void Fixed(In& in, Out& out, Convert convert) {
    if (!Due()) return;
    if (!Skipped(sizeof(In)) && Take(Bytes(in))) {
      convert(in, out);
      out_->Write(Bytes(out));
    }
    Done();
  }

  // A block carried as it is read.
  template <class Table>
  void Carried(Table& table) {
    if (!Due()) return;
    if (!Skipped(sizeof(Table)) && Take(Bytes(table))) out_->Write(Bytes(table));
    Done();
  }

  // A counted block whose records keep their layout: each window converted
  // where it lies, convert(records, index of the first). Carried blocks
  // convert nothing and may have a negative count, with no records behind.
  template <class Rec, class Convert>
  std::int32_t Counted(Growable<Rec>& window, Convert convert, std::size_t recordSize11,
                       bool negativeAllowed = false) {
    const std::int32_t count = Count(sizeof(Rec), recordSize11, negativeAllowed);
    if (SkippedRecords(count, sizeof(Rec))) return count;
    ForEachWindow<Rec>(count, [&](std::size_t first, std::int32_t n) {
      SizeTable(window, n);
      if (!Take(Bytes(window))) return;
      convert(std::span(window), first);
      out_->Write(Bytes(window));
    });
    return count;
  }

  // A counted block whose records change their layout: each window
  // converted into a window of the version 1.1 records.
  template <class Rec0, class Rec1, class Convert>
  std::int32_t Counted(Growable<Rec0>& in, Growable<Rec1>& out, Convert convert) {
    const std::int32_t count = Count(sizeof(Rec0), sizeof(Rec1), false);
    if (SkippedRecords(count, sizeof(Rec0))) return count;
    ForEachWindow<Rec0>(count, [&](std::size_t, std::int32_t n) {
      SizeTable(in, n);
      if (!Take(Bytes(in))) return;
      SizeTable(out, n);
      convert(std::span<const Rec0>(in), std::span(out));
      out_->Write(Bytes(out));
    });
    return count;
  }

 private:
  // Whether the next step is still to be made: a resumed pass passes over
  // the steps done before.
  bool Due() { return resume_ == nullptr || step_++ >= resume_->done; }
  void Done() {
    if (resume_ != nullptr) ++resume_->done;
  }

  // Surveying, jumps over a count's records, as a step of its own.
  bool SkippedRecords(std::int32_t count, std::size_t recordSize) {
    if (mode_ != Mode::Survey) return false;
    if (count > 0 && Due()) {
      Skipped(static_cast<std::uint64_t>(count) * recordSize);
      Done();
    }
    return true;
  }

  // Surveying, jumps over size bytes instead of reading them: true then.
  bool Skipped(std::uint64_t size) {
    if (mode_ != Mode::Survey) return false;
    if (in_.Skip(size) != size) throw KvoError(kIncompleteText);
    return true;
  }

  // Reads the bytes; true when they are to be converted and written.
  bool Take(std::span<std::uint8_t> bytes) {
    ReadExact(in_, bytes);
    return mode_ == Mode::Convert;
  }

  // Reads a count, written as it is read. It is checked against the larger
  // record size of the two versions (recordSize11 is the version 1.1 one)
  // and against the bytes left, so that a count the conversion could not
  // size stops the pass here, before any of its records.
  std::int32_t Count(std::size_t recordSize0, std::size_t recordSize11, bool negativeAllowed) {
    const std::size_t which = counted_++;
    if (!Due()) return resume_->counts.at(which);
    std::uint8_t raw[4];
    ReadExact(in_, raw);
    const std::int32_t count = LoadLE32(raw);
    if (count >= 0 || !negativeAllowed) {
      CheckTableRange(count, std::max(recordSize0, recordSize11));
      if (static_cast<std::uint64_t>(count) * recordSize0 > in_.Remaining()) {
        throw KvoError(kIncompleteText);
      }
    }
    if (mode_ == Mode::Convert) out_->Write(raw);
    if (resume_ != nullptr) resume_->counts.push_back(count);
    Done();
    return count;
  }

  // Calls each(first, n) for the windows of a count's records.
  template <class Rec, class Each>
  void ForEachWindow(std::int32_t count, Each each) {
    if (count <= 0) return;
    const std::size_t total = static_cast<std::size_t>(count);
    const std::size_t step = std::max<std::size_t>(windowBytes_ / sizeof(Rec), 1);
    for (std::size_t first = 0; first < total; first += step) {
      if (!Due()) continue;
      each(first, static_cast<std::int32_t>(std::min(step, total - first)));
      Done();
    }
  }

  ByteSource& in_;
  ByteSink* out_;
  Mode mode_;
  std::size_t windowBytes_;
  Resumption* resume_;
  std::size_t step_ = 0;     // steps met in this call
  std::size_t counted_ = 0;  // counts met in this call
};

// The blocks of a version 1.0 file in their order.
Counts Walk(Pass& p, TableSets& tables) {
  using namespace kvoAllg;
  kvoAllg0::Tables& in = tables.v10;
  kvoAllg::Tables& out = tables.v11;
  const auto inPlace = [](auto convert) {
    return [convert](auto records, std::size_t) { convert(records); };
  };
  const auto carry = [](auto, std::size_t) {};
  Counts c;
  p.Fixed(in.b1, out.b1, ConvertB1);
  p.Fixed(in.b2, out.b2, ConvertB2);
  p.Fixed(in.b3, out.b3, ConvertB3);
  p.Fixed(in.b4, out.b4, ConvertB4);
  p.Fixed(in.b5, out.b5, ConvertB5);
  c.b6 = p.Counted(in.b6, inPlace(ConvertB6), sizeof(TkvoB6Satz));
  c.b7 = p.Counted(in.b7, out.b7, ConvertB7);
  c.b8 = p.Counted(in.b8, inPlace(ConvertB8), sizeof(TkvoB8Satz));
  c.b9 = p.Counted(in.b9, inPlace(ConvertB9), sizeof(TkvoB9Satz));
  c.b10 = p.Counted(in.b10, inPlace(ConvertB10), sizeof(TkvoB10Satz));
  p.Fixed(in.b11, out.b11, ConvertB11);
  c.b12 = p.Counted(in.b12, ConvertB12, sizeof(TkvoB12Satz));
  c.b13 = p.Counted(in.b13, inPlace(ConvertB13), sizeof(TkvoB13Satz));
  p.Carried(out.b14);
  p.Carried(out.b15);
  p.Fixed(in.b16, out.b16, ConvertB16);
  c.b17 = p.Counted(in.b17, carry, sizeof(TkvoZNummer), /*negativeAllowed=*/true);
  c.b18 = p.Counted(in.b18, carry, sizeof(TkvoB18Satz), /*negativeAllowed=*/true);
  p.Carried(out.b19);
  return c;
}

}  // namespace

Counts ConvertDataFile0(ByteSource& in, ByteSink* out, TableSets& tables, std::size_t windowBytes,
                        Resumption* resume) {
  Pass pass(in, out, out != nullptr ? Pass::Mode::Convert : Pass::Mode::Check, windowBytes, resume);
  pass.Header();
  return Walk(pass, tables);
}

Counts SurveyDataFile0(ByteSource& in, TableSets& tables, Resumption* resume) {
  Pass pass(in, nullptr, Pass::Mode::Survey, kWindowBytes, resume);
  return Walk(pass, tables);
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
  std::vector<std::uint8_t> out;
  out.reserve(ConvertedSize(SurveyDataFile0(in, tables)));
  VectorSink sink(out);
  MemorySource again(v10.subspan(kHeader0.size()));
  ConvertDataFile0(again, &sink, tables);
  return out;
}

}  // namespace kvo
