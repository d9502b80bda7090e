// The layout engine on small tables of its own: what the compile-time check
// rejects, and what each rule writes.
#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "Layout.h"

namespace kvo::layout {
namespace {

constexpr std::array kGood = {Copy(0, 2, 0), Text(2, 3, 4), Fill(6), SetMinus1(7, 2)};
static_assert(CoversExactly(kGood, 9, 8));

TEST(LayoutCheck, RejectsGapsOverlapsAndReadsOutsideTheRecord) {
  struct Case {
    const char* what;
    std::array<Field, 2> rows;
    std::size_t dst, src;
  };
  const Case cases[] = {
      {"gap", {Copy(0, 2, 0), Copy(3, 1, 2)}, 4, 4},
      {"overlap", {Copy(0, 3, 0), Copy(2, 2, 2)}, 4, 4},
      {"past the record", {Copy(0, 2, 0), Copy(2, 4, 2)}, 4, 8},
      {"reads past the source", {Copy(0, 2, 0), Copy(2, 2, 7)}, 4, 8},
      {"text reads past the source", {Copy(0, 1, 0), Text(1, 3, 6)}, 5, 8},
      {"odd -1", {Copy(0, 1, 0), SetMinus1(1, 3)}, 4, 4},
  };
  for (const Case& c : cases) EXPECT_FALSE(CoversExactly(c.rows, c.dst, c.src)) << c.what;
  const std::array exact = {Copy(0, 2, 0), Copy(2, 2, 6)};
  EXPECT_TRUE(CoversExactly(exact, 4, 8));
}

TEST(LayoutCheck, ExpandsArraysAndGroups) {
  static constexpr std::array group = {Copy(0, 1, 1), Copy(1, 1, 0)};
  // Three groups of two swapped bytes, stride 2 in version 1.1, 3 in 1.0.
  static constexpr std::array rows = {Groups(0, 3, 2, 0, 3, group)};
  static_assert(CoversExactly(rows, 6, 9));
  static_assert(!CoversExactly(rows, 7, 9));
  std::array<std::uint8_t, 9> src{};
  std::iota(src.begin(), src.end(), 10);
  std::array<std::uint8_t, 6> dst{};
  ApplyRecord<rows>(src.data(), dst.data());
  EXPECT_EQ(dst, (std::array<std::uint8_t, 6>{11, 10, 14, 13, 17, 16}));
}

constexpr std::array kText6 = {Text(0, 6, 0)};

TEST(TextRule, ClampsTheLengthAndClearsWhatLiesBehindIt) {
  struct Case {
    std::uint8_t length;
    std::array<std::uint8_t, 7> expected;
  };
  // Version 1.0 field: length byte, then "ABCDEF".
  const Case cases[] = {
      {0, {0, 0, 0, 0, 0, 0, 0}},
      {2, {2, 'A', 'B', 0, 0, 0, 0}},
      {6, {6, 'A', 'B', 'C', 'D', 'E', 'F'}},
      {7, {6, 'A', 'B', 'C', 'D', 'E', 'F'}},
      {255, {6, 'A', 'B', 'C', 'D', 'E', 'F'}},
  };
  for (const Case& c : cases) {
    const std::array<std::uint8_t, 7> src = {c.length, 'A', 'B', 'C', 'D', 'E', 'F'};
    std::array<std::uint8_t, 7> dst;
    dst.fill(0xEE);  // whatever an earlier run left
    ApplyRecord<kText6>(src.data(), dst.data());
    EXPECT_EQ(dst, c.expected) << "length " << int{c.length};
  }
}

TEST(Engine, WritesEveryRuleAndMergesNothingItShouldNot) {
  std::array<std::uint8_t, 8> src = {1, 2, 3, 4, 5, 6, 7, 8};
  std::array<std::uint8_t, 9> dst;
  dst.fill(0xEE);
  ApplyRecord<kGood>(src.data(), dst.data());
  // Copy 1,2; text from offset 4 (length 5 clamped to 3: 6,7,8); fill; -1.
  EXPECT_EQ(dst, (std::array<std::uint8_t, 9>{1, 2, 3, 6, 7, 8, 0, 0xFF, 0xFF}));
  // Neighbouring copies merge only where both sides are contiguous.
  static constexpr std::array rows = {Copy(0, 2, 0), Copy(2, 2, 2), Copy(4, 2, 8), Zero(6, 1),
                                      Fill(7)};
  static_assert(kOps<rows>.size() == 3);
}

}  // namespace
}  // namespace kvo::layout
