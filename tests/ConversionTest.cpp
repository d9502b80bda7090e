// Every block of a converted file checked against the record layouts, written
// out here a second time in a form of their own, over random inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "Container.h"
#include "support/DatFile.h"

namespace kvo {
namespace {

using test::DatFile;
using test::Version;

// One version 1.1 field: its bytes, its rule, and where it comes from.
struct F {
  int dst, size;
  char rule;  // 'c' copy, '0' zero (fill bytes too), 'm' -1, 't' text of max size-1
  int src;
};

void Repeat(std::vector<F>& out, int n, int dstStride, int srcStride, F f) {
  for (int j = 0; j < n; ++j)
    out.push_back({f.dst + j * dstStride, f.size, f.rule, f.src + j * srcStride});
}

std::vector<F> FieldsOf(int block) {
  std::vector<F> f;
  switch (block) {
    case 1:
      f = {{0, 94, 'c', 0},    {94, 8, '0', 0},    {102, 4, 't', 102}, {106, 7, 't', 106},
           {113, 7, 't', 113}, {120, 9, 'c', 120}, {129, 5, '0', 0}};
      break;
    case 2:
      f = {{0, 7, 'c', 0}, {7, 1, '0', 0}};
      break;
    case 3:
      f = {{0, 78, 'c', 0},  {78, 2, 'm', 0},  {80, 5, 'c', 78}, {85, 1, '0', 0},
           {86, 4, 't', 84}, {90, 7, 't', 88}, {97, 1, '0', 0}};
      break;
    case 4:
      f = {{0, 25, 'c', 0},  {25, 1, '0', 0},  {26, 64, 'c', 26},
           {90, 4, 't', 90}, {94, 9, 't', 94}, {103, 1, '0', 0}};
      break;
    case 5:
      f = {{0, 2, 'c', 0}, {2, 17, 't', 2}, {19, 7, 't', 19}, {26, 152, 'c', 26}};
      break;
    case 6:
      f = {{0, 118, 'c', 0},
           {118, 6, '0', 0},
           {124, 4, 't', 124},
           {128, 7, 't', 128},
           {135, 5, 'c', 135}};
      break;
    case 7:
      f = {{0, 19, 't', 0},     {19, 1, '0', 0},    {20, 44, 'c', 20}, {64, 4, 'm', 0},
           {308, 40, 'c', 288}, {348, 1, 'c', 328}, {349, 1, '0', 0}};
      for (int j = 0; j < 20; ++j) {
        f.push_back({68 + 6 * j, 2, 'c', 68 + 6 * j});
        f.push_back({70 + 6 * j, 2, 't', 70 + 6 * j});
        f.push_back({72 + 6 * j, 2, 'c', 72 + 6 * j});
      }
      Repeat(f, 20, 6, 5, {188, 6, 't', 188});
      break;
    case 8:
      f = {{0, 24, 'c', 0},   {24, 4, 't', 24},  {28, 17, 't', 28},
           {45, 17, 't', 45}, {62, 17, 't', 62}, {79, 1, '0', 0}};
      break;
    case 9:
      f = {{0, 88, 'c', 0}, {88, 4, 't', 88}, {92, 4, 't', 92}, {96, 7, 't', 96}, {103, 1, '0', 0}};
      break;
    case 10:
      f = {{0, 36, 'c', 0}, {36, 4, 't', 36}, {40, 4, 't', 40}, {44, 1, 'c', 44}, {45, 1, '0', 0}};
      break;
    case 11:
      f = {{0, 14, 'c', 0}};
      break;
    case 12:
      f = {{0, 11, 't', 0}, {11, 26, 't', 11}};
      break;
    case 13:
      f = {{0, 11, 't', 0}, {11, 1, '0', 0}, {12, 2, 'c', 12}};
      break;
    case 16:
      f = {{0, 13, 'c', 0}, {13, 1, '0', 0}};
      break;
    default:
      f = {{0, static_cast<int>(test::BlockOf(block).record11), 'c', 0}};
      break;  // carried
  }
  return f;
}

// Text length bytes: random, but often within the maximum, so that both
// clamping and clearing behind the length are met.
void ShortenTexts(DatFile& in, test::Random& random) {
  for (const test::BlockSpec& s : test::kBlocks) {
    for (const F& f : FieldsOf(s.number)) {
      if (f.rule != 't') continue;
      for (std::size_t i = 0; i < in.RecordCount(s.number); ++i) {
        auto& len = in.Record(s.number, i)[f.src];
        if (random.Next() % 4 != 0) len = static_cast<std::uint8_t>(random.Next() % (f.size + 1));
      }
    }
  }
}

void ExpectRecord(int block, std::size_t index, std::span<const std::uint8_t> in,
                  std::span<const std::uint8_t> out) {
  SCOPED_TRACE(testing::Message() << "B" << block << " record " << index);
  std::vector<int> covered(out.size());
  for (const F& f : FieldsOf(block)) {
    SCOPED_TRACE(testing::Message() << "field at " << f.dst);
    for (int k = 0; k < f.size; ++k) ++covered[f.dst + k];
    auto o = out.subspan(f.dst, f.size);
    if (f.rule == 'c') {
      EXPECT_TRUE(std::ranges::equal(o, in.subspan(f.src, f.size)));
    } else if (f.rule == '0') {
      EXPECT_TRUE(std::ranges::all_of(o, [](auto b) { return b == 0; }));
    } else if (f.rule == 'm') {
      EXPECT_TRUE(std::ranges::all_of(o, [](auto b) { return b == 0xFF; }));
    } else {
      const int len = std::min<int>(in[f.src], f.size - 1);
      ASSERT_EQ(o[0], len);
      EXPECT_TRUE(std::ranges::equal(o.subspan(1, len), in.subspan(f.src + 1, len)));
      EXPECT_TRUE(std::ranges::all_of(o.subspan(1 + len), [](auto b) { return b == 0; }));
    }
  }
  ASSERT_TRUE(std::ranges::all_of(covered, [](int c) { return c == 1; }))
      << "the test's own field table is wrong";
}

// windowBytes: how many bytes of a counted block's records are converted
// at a time; 1 takes each record on its own.
std::vector<std::uint8_t> Convert(const DatFile& in, std::size_t windowBytes = kWindowBytes) {
  static const auto tables = std::make_unique<TableSets>();  // too large for the stack
  const auto bytes = in.Bytes();
  if (windowBytes == kWindowBytes) return ConvertImage(bytes, *tables);
  MemorySource from(std::span<const std::uint8_t>(bytes).subspan(kHeader0.size()));
  std::vector<std::uint8_t> out;
  VectorSink to(out);
  ConvertDataFile0(from, &to, *tables, windowBytes);
  return out;
}

TEST(Conversion, EveryBlockFollowsItsLayoutOnRandomInput) {
  // Whole blocks at a time, and windows of one or a few records.
  const std::size_t windows[] = {kWindowBytes, 1, 300, 700, kWindowBytes, 1};
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const std::size_t window = windows[seed - 1];
    SCOPED_TRACE(testing::Message() << "seed " << seed << ", window " << window);
    test::Random random(seed);
    DatFile in = DatFile::Empty(Version::V10);
    for (const test::BlockSpec& s : test::kBlocks) {
      if (s.counted) in.SetCount(s.number, static_cast<std::int32_t>(random.Next() % 5));
    }
    test::Randomise(in, random);
    ShortenTexts(in, random);

    const std::vector<std::uint8_t> bytes = Convert(in, window);
    const auto out = test::Split(bytes, Version::V11);
    ASSERT_TRUE(out.has_value());
    EXPECT_TRUE(out->trailer.empty());
    EXPECT_EQ(out->header, test::HeaderOf(Version::V11));
    EXPECT_EQ(out->counts, in.counts);
    for (const test::BlockSpec& s : test::kBlocks) {
      ASSERT_EQ(out->RecordCount(s.number), in.RecordCount(s.number)) << "B" << s.number;
      for (std::size_t i = 0; i < in.RecordCount(s.number); ++i) {
        auto o = out->Record(s.number, i);
        if (s.number == 12 && i == 0) {
          EXPECT_TRUE(std::ranges::all_of(o, [](auto b) { return b == 0; })) << "B12 record 0";
        } else if (s.number == 16 && i == 1000) {
          EXPECT_EQ(o[12], 1);
          std::vector<std::uint8_t> unmarked(o.begin(), o.end());
          unmarked[12] = in.Record(16, i)[12];
          ExpectRecord(16, i, in.Record(16, i), unmarked);
        } else {
          ExpectRecord(s.number, i, in.Record(s.number, i), o);
        }
      }
    }
  }
}

TEST(Conversion, B7ShortTextsWidenAndTakeTheFifthCharacterFromTheNextByte) {
  DatFile in = DatFile::Empty(Version::V10);
  in.SetCount(7, 2);
  auto r0 = in.Record(7, 0);
  test::SetText(r0, 188, 2, "ABxx");  // leftovers behind the length
  test::SetText(r0, 193, 4, "CDEF");
  test::SetText(r0, 283, 3, "GHI");  // the twentieth
  auto r1 = in.Record(7, 1);
  test::SetText(r1, 188, 9, "JKLM");  // length 9: fifth character is the next length byte
  r1[193] = 'N';
  test::SetText(r1, 283, 5, "OPQR");  // the twentieth: fifth character at 288
  test::SetWord(r1, 288, 0x5A53);     // low byte 'S'

  const auto out = test::Split(Convert(in), Version::V11);
  ASSERT_TRUE(out);
  auto o0 = out->Record(7, 0);
  EXPECT_EQ(std::vector(o0.begin() + 188, o0.begin() + 200),
            (std::vector<std::uint8_t>{2, 'A', 'B', 0, 0, 0, 4, 'C', 'D', 'E', 'F', 0}));
  EXPECT_EQ(std::vector(o0.begin() + 302, o0.begin() + 308),
            (std::vector<std::uint8_t>{3, 'G', 'H', 'I', 0, 0}));
  auto o1 = out->Record(7, 1);
  EXPECT_EQ(std::vector(o1.begin() + 188, o1.begin() + 194),
            (std::vector<std::uint8_t>{5, 'J', 'K', 'L', 'M', 'N'}));
  EXPECT_EQ(std::vector(o1.begin() + 302, o1.begin() + 308),
            (std::vector<std::uint8_t>{5, 'O', 'P', 'Q', 'R', 'S'}));
  EXPECT_EQ(test::Word(o1, 308), 0x5A53);  // the word array moved by 20
}

TEST(Conversion, ZeroInputGivesZeroOutputButForTheSetFields) {
  DatFile in = DatFile::Empty(Version::V10);
  in.SetCount(12, 1);
  const auto out = test::Split(Convert(in), Version::V11);
  ASSERT_TRUE(out);
  for (const test::BlockSpec& s : test::kBlocks) {
    std::vector<std::uint8_t> expected(out->blocks[s.number].size(), 0);
    if (s.number == 3) {
      for (std::size_t i = 0; i < 256; ++i)
        test::SetWord(std::span(expected).subspan(i * 98), 78, 0xFFFF);
    }
    if (s.number == 16) expected[14012] = 1;
    EXPECT_EQ(out->blocks[s.number], expected) << "B" << s.number;
  }
  EXPECT_EQ(out->counts[12], 1);
}

TEST(Conversion, FileGrowsBy512AndBy20PerB7Record) {
  for (std::int32_t b7 : {0, 1, 7}) {
    DatFile in = DatFile::Empty(Version::V10);
    in.SetCount(7, b7);
    in.SetCount(18, -3);  // carried, no records
    in.trailer = {1, 2, 3};
    const auto bytes = in.Bytes();
    EXPECT_EQ(Convert(in).size(), bytes.size() - 3 + 512 + 20 * b7) << b7;
  }
}

TEST(Conversion, CarriedBlocksStayByteIdenticalIncludingTheTrainNumberSlots) {
  test::Random random(42);
  DatFile in = DatFile::Empty(Version::V10);
  in.SetCount(17, 5);
  in.SetCount(18, 2);
  test::Randomise(in, random);
  for (std::size_t i = 0; i < 5; ++i) test::SetWord(in.Record(17, i), 74, 0xDEAD);  // slot bytes
  const auto out = test::Split(Convert(in), Version::V11);
  ASSERT_TRUE(out);
  for (int block : {14, 15, 17, 18, 19}) EXPECT_EQ(out->blocks[block], in.blocks[block]) << block;
  EXPECT_EQ(out->counts[17], 5);
  EXPECT_EQ(out->counts[18], 2);
}

TEST(Conversion, ASecondRunLeaksNothingOfALargerFirstRun) {
  test::Random random(7);
  DatFile big = DatFile::Empty(Version::V10);
  for (const test::BlockSpec& s : test::kBlocks) {
    if (s.counted) big.SetCount(s.number, 9);
  }
  test::Randomise(big, random);
  DatFile small = DatFile::Empty(Version::V10);
  for (const test::BlockSpec& s : test::kBlocks) {
    if (s.counted) small.SetCount(s.number, 2);
  }
  small.SetCount(17, -1);
  ShortenTexts(small, random);

  const auto expected = ConvertImage(small.Bytes(), *std::make_unique<TableSets>());
  TableSets& shared = ProcessTables();
  ConvertImage(big.Bytes(), shared);
  EXPECT_EQ(ConvertImage(small.Bytes(), shared), expected);
}

}  // namespace
}  // namespace kvo
