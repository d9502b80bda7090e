// The container: header check, and the reader's refusals of files it cannot
// convert whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Container.h"
#include "Errors.h"
#include "support/DatFile.h"

namespace kvo {
namespace {

using test::DatFile;
using test::Version;

TEST(CheckHeader0, PassesOnlyTheWholeVersion10Header) {
  const auto v10 = test::HeaderOf(Version::V10);
  std::vector<std::uint8_t> good(v10.begin(), v10.end());
  EXPECT_TRUE(CheckHeader0(good));
  good.push_back('x');  // nothing behind the 23 bytes is compared
  EXPECT_TRUE(CheckHeader0(good));

  const auto v11 = test::HeaderOf(Version::V11);
  std::vector<std::vector<std::uint8_t>> bad = {
      {},
      std::vector<std::uint8_t>(v10.begin(), v10.end() - 1),  // short read
      std::vector<std::uint8_t>(v11.begin(), v11.end()),      // converted before
  };
  auto lastByte = std::vector<std::uint8_t>(v10.begin(), v10.end());
  lastByte[22] = '_';
  bad.push_back(lastByte);
  auto firstByte = std::vector<std::uint8_t>(v10.begin(), v10.end());
  firstByte[0] = 21;
  bad.push_back(firstByte);
  for (const auto& b : bad) EXPECT_FALSE(CheckHeader0(b)) << b.size();
}

std::string ErrorOf(const std::vector<std::uint8_t>& bytes) {
  const auto tables = std::make_unique<TableSets>();
  try {
    ConvertImage(bytes, *tables);
  } catch (const KvoError& e) {
    return e.what();
  } catch (const WrongVersion& e) {
    return e.what();
  }
  return "converted";
}

TEST(Reader, RefusesAFileThatEndsBeforeB19EndsWhereverItIsCut) {
  test::Random random(3);
  DatFile in = DatFile::Empty(Version::V10);
  for (const test::BlockSpec& s : test::kBlocks) {
    if (s.counted) in.SetCount(s.number, 2);
  }
  test::Randomise(in, random);
  const auto whole = in.Bytes();
  ASSERT_EQ(ErrorOf(whole), "converted");
  // Every block boundary, and inside every count field and record run.
  std::vector<std::size_t> cuts;
  for (std::size_t cut = 23; cut < whole.size(); cut += 997) cuts.push_back(cut);
  for (std::size_t back : {1, 2, 3, 4, 5, 70, 71, 128, 129}) cuts.push_back(whole.size() - back);
  for (std::size_t cut : cuts) {
    const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + cut);
    EXPECT_EQ(ErrorOf(part), kIncompleteText) << "cut at " << cut;
  }
  EXPECT_EQ(ErrorOf({whole.begin(), whole.begin() + 10}), kWrongVersionText);
}

TEST(Reader, RefusesCountsItCannotSizeBeforeAllocating) {
  struct Case {
    int block;
    std::int32_t count;
    const char* error;
  };
  const Case cases[] = {
      {6, -1, kRangeErrorText},
      {7, -5, kRangeErrorText},
      {8, INT32_MIN, kRangeErrorText},
      {9, -1, kRangeErrorText},
      {10, -1, kRangeErrorText},
      {12, -1, kRangeErrorText},
      {13, -2, kRangeErrorText},
      // Beyond the signed 32-bit range as a table of either version.
      {6, 0x7FFFFFFF, kRangeErrorText},
      {18, 0x7FFFFFFF / 70 + 1, kRangeErrorText},
      {7, 0x7FFFFFFF / 350 + 1, kRangeErrorText},  // fits at 330 bytes, not at 350
      // Within range, but more records than the file holds: a forged count
      // must not make us allocate gigabytes.
      {13, 0x7FFFFFFF / 14, kIncompleteText},
      {17, 1000, kIncompleteText},
      // Negative counts in B17 and B18 are carried as read.
      {17, -1, "converted"},
      {18, INT32_MIN, "converted"},
  };
  for (const Case& c : cases) {
    DatFile in = DatFile::Empty(Version::V10);
    in.counts[c.block] = c.count;  // the count alone, no records behind it
    EXPECT_EQ(ErrorOf(in.Bytes()), c.error) << "B" << c.block << " count " << c.count;
  }
}

TEST(Reader, CarriesNegativeB17AndB18CountsWithNoRecords) {
  DatFile in = DatFile::Empty(Version::V10);
  in.counts[17] = -1;
  in.counts[18] = -7;
  const auto tables = std::make_unique<TableSets>();
  const auto out = test::Split(ConvertImage(in.Bytes(), *tables), Version::V11);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->counts[17], -1);
  EXPECT_EQ(out->counts[18], -7);
  EXPECT_TRUE(out->blocks[17].empty());
  EXPECT_TRUE(out->trailer.empty());
}

// The browser has a file a window at a time: a pass that stops where its
// bytes end, and goes on when the next window comes, gives what one pass
// over the whole gives, wherever it stops, and refuses what that refuses.
TEST(Reader, APassResumedWindowByWindowGivesWhatOnePassGives) {
  const auto whole = test::SizedFile(5, 3u << 20).Bytes();
  const std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 5);
  const auto tables = std::make_unique<TableSets>();
  const auto expected = ConvertImage(whole, *tables);
  // One window of records per 64 KB: many steps.
  constexpr std::size_t kRecords = 64 << 10;
  for (const std::size_t window : {std::size_t{1}, std::size_t{4096}, std::size_t{5} << 20}) {
    for (const auto* file : {&whole, &cut}) {
      SCOPED_TRACE(testing::Message() << "window " << window << (file == &cut ? ", cut" : ""));
      const auto run = [&](auto pass) -> std::string {
        WindowSource in(file->size(), 23);
        Resumption resume;
        for (int calls = 0;; ++calls) {
          try {
            pass(in, resume);
            return "done";
          } catch (const WindowSource::Starved& wanted) {
            EXPECT_LT(calls, 100'000);
            const std::size_t n = std::max(window, wanted.size);
            in.Give(wanted.offset,
                    std::span(*file).subspan(
                        wanted.offset, std::min<std::size_t>(n, file->size() - wanted.offset)));
          } catch (const KvoError& e) {
            return e.what();
          }
        }
      };
      std::vector<std::uint8_t> out;
      VectorSink sink(out);
      Counts counts, surveyed;
      EXPECT_EQ(run([&](WindowSource& in, Resumption& r) {
                  counts = ConvertDataFile0(in, &sink, *tables, kRecords, &r);
                }),
                file == &cut ? kIncompleteText : "done");
      EXPECT_EQ(run([&](WindowSource& in, Resumption& r) {
                  surveyed = SurveyDataFile0(in, *tables, &r);
                }),
                file == &cut ? kIncompleteText : "done");
      if (file == &whole) {
        EXPECT_TRUE(out == expected);
        EXPECT_EQ(counts, surveyed);
      }
    }
  }
}

}  // namespace
}  // namespace kvo
