// Record layouts as data. A conversion is written as its layout table: one
// Field per row (version 1.1 offset, size, rule, version 1.0 offset). The table
// is checked at compile time to cover the version 1.1 record exactly once and
// to read only inside the version 1.0 record, then flattened into a list of
// byte operations that one small engine applies record by record.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

namespace kvo::layout {

enum class Rule : std::uint8_t {
  Copy,       // bytes taken from the version 1.0 offset
  Zero,       // cleared whatever version 1.0 holds
  SetMinus1,  // every word becomes 0xFFFF
  NotSet,     // fill byte: no rule writes it, so it stays 0
  Text,       // copy text, max n: length clamped, nothing behind it carried
};

struct Field {
  std::uint16_t offset = 0;  // version 1.1 offset
  std::uint16_t size = 0;    // bytes of one element
  Rule rule = Rule::NotSet;
  std::uint16_t from = 0;        // version 1.0 offset (Copy and Text)
  std::uint16_t count = 1;       // elements, for arrays
  std::uint16_t stride = 0;      // version 1.1 distance between elements
  std::uint16_t fromStride = 0;  // version 1.0 distance between elements
  // An array of groups: each element is this sub-table, offsets relative to
  // the element's start in both versions.
  const Field* group = nullptr;
  std::uint16_t groupRows = 0;
};

// Row builders, named as the rules are named.
constexpr Field Copy(std::uint16_t offset, std::uint16_t size, std::uint16_t from) {
  return {.offset = offset, .size = size, .rule = Rule::Copy, .from = from};
}
constexpr Field Zero(std::uint16_t offset, std::uint16_t size) {
  return {.offset = offset, .size = size, .rule = Rule::Zero};
}
constexpr Field SetMinus1(std::uint16_t offset, std::uint16_t size) {
  return {.offset = offset, .size = size, .rule = Rule::SetMinus1};
}
constexpr Field Fill(std::uint16_t offset) {
  return {.offset = offset, .size = 1, .rule = Rule::NotSet};
}
// A ShortString[max] field: one length byte and max characters.
constexpr Field Text(std::uint16_t offset, std::uint16_t max, std::uint16_t from) {
  return {.offset = offset,
          .size = static_cast<std::uint16_t>(max + 1),
          .rule = Rule::Text,
          .from = from};
}
// count elements; element j lies at offset + j*stride (from + j*fromStride).
constexpr Field Array(std::uint16_t count, std::uint16_t stride, std::uint16_t fromStride,
                      Field element) {
  element.count = count;
  element.stride = stride;
  element.fromStride = fromStride;
  return element;
}
template <std::size_t N>
constexpr Field Groups(std::uint16_t offset, std::uint16_t count, std::uint16_t stride,
                       std::uint16_t from, std::uint16_t fromStride,
                       const std::array<Field, N>& group) {
  std::uint16_t size = 0;
  for (const Field& f : group) size = std::max<std::uint16_t>(size, f.offset + f.size);
  return {.offset = offset,
          .size = size,
          .rule = Rule::Copy,
          .from = from,
          .count = count,
          .stride = stride,
          .fromStride = fromStride,
          .group = group.data(),
          .groupRows = static_cast<std::uint16_t>(N)};
}

// One byte operation of the flattened table.
struct Op {
  std::uint16_t dst = 0;
  std::uint16_t src = 0;
  std::uint16_t size = 0;
  Rule rule = Rule::NotSet;
};

namespace detail {

// Calls visit(op) for every element of every row, groups expanded.
template <class Visit>
constexpr void Walk(std::span<const Field> rows, std::size_t base, std::size_t fromBase,
                    Visit&& visit) {
  for (const Field& f : rows) {
    for (std::size_t j = 0; j < f.count; ++j) {
      const std::size_t dst = base + f.offset + j * f.stride;
      const std::size_t src = fromBase + f.from + j * f.fromStride;
      if (f.groupRows != 0) {
        Walk(std::span<const Field>(f.group, f.groupRows), dst, src, visit);
      } else {
        visit(Op{static_cast<std::uint16_t>(dst), static_cast<std::uint16_t>(src), f.size, f.rule});
      }
    }
  }
}

inline constexpr std::size_t kMaxRecord = 512;

}  // namespace detail

// True when the rows write every byte of a dstSize record exactly once and
// read only inside a srcSize record.
constexpr bool CoversExactly(std::span<const Field> rows, std::size_t dstSize,
                             std::size_t srcSize) {
  if (dstSize > detail::kMaxRecord) return false;
  std::array<int, detail::kMaxRecord> written{};
  bool ok = true;
  detail::Walk(rows, 0, 0, [&](const Op& op) {
    if (op.size == 0 || op.dst + op.size > dstSize) {
      ok = false;
      return;
    }
    for (std::size_t i = op.dst; i < op.dst + op.size; ++i) ++written[i];
    const bool reads = op.rule == Rule::Copy || op.rule == Rule::Text;
    if (reads && op.src + op.size > srcSize) ok = false;
    if (op.rule == Rule::SetMinus1 && op.size % 2 != 0) ok = false;
  });
  for (std::size_t i = 0; i < dstSize; ++i) ok = ok && written[i] == 1;
  return ok;
}

namespace detail {

// Flattens the rows into operations, merging neighbours that can run as one
// memcpy or memset. Returns the operations and how many there are.
template <std::size_t Capacity>
constexpr std::pair<std::array<Op, Capacity>, std::size_t> Compile(std::span<const Field> rows) {
  std::array<Op, Capacity> ops{};
  std::size_t n = 0;
  auto fills = [](Rule r) { return r == Rule::Zero || r == Rule::NotSet; };
  Walk(rows, 0, 0, [&](Op op) {
    if (fills(op.rule)) op.rule = Rule::Zero;  // our tables are not pre-zeroed
    if (n > 0) {
      Op& last = ops[n - 1];
      const bool adjacent = last.dst + last.size == op.dst;
      const bool bothCopy =
          last.rule == Rule::Copy && op.rule == Rule::Copy && last.src + last.size == op.src;
      const bool same =
          last.rule == op.rule && (op.rule == Rule::Zero || op.rule == Rule::SetMinus1);
      if (adjacent && (bothCopy || same)) {
        last.size = static_cast<std::uint16_t>(last.size + op.size);
        return;
      }
    }
    ops[n++] = op;
  });
  return {ops, n};
}

constexpr std::size_t CountElements(std::span<const Field> rows) {
  std::size_t n = 0;
  Walk(rows, 0, 0, [&](const Op&) { ++n; });
  return n;
}

}  // namespace detail

// The flattened operations of a layout table, sized exactly.
template <const auto& Rows>
inline constexpr auto kOps = [] {
  constexpr std::size_t capacity = detail::CountElements(Rows);
  constexpr auto compiled = detail::Compile<capacity>(Rows);
  std::array<Op, compiled.second> exact{};
  for (std::size_t i = 0; i < exact.size(); ++i) exact[i] = compiled.first[i];
  return exact;
}();

template <Op op>
inline void ApplyOp(const std::uint8_t* src, std::uint8_t* dst) {
  if constexpr (op.rule == Rule::Copy) {
    std::memcpy(dst + op.dst, src + op.src, op.size);
  } else if constexpr (op.rule == Rule::Zero) {
    std::memset(dst + op.dst, 0, op.size);
  } else if constexpr (op.rule == Rule::SetMinus1) {
    std::memset(dst + op.dst, 0xFF, op.size);
  } else {
    static_assert(op.rule == Rule::Text);
    constexpr unsigned max = op.size - 1u;
    const unsigned len = std::min<unsigned>(src[op.src], max);
    dst[op.dst] = static_cast<std::uint8_t>(len);
    const std::uint8_t* from = src + op.src + 1;
    std::uint8_t* to = dst + op.dst + 1;
    // Fixed trip count: the compiler unrolls it; characters behind the
    // length become 0 instead of being carried over.
    for (unsigned i = 0; i < max; ++i) to[i] = i < len ? from[i] : std::uint8_t{0};
  }
}

// Builds one version 1.1 record from one version 1.0 record. Every byte of
// dst is written (the table covers it exactly), so dst need not be cleared.
template <const auto& Rows>
inline void ApplyRecord(const std::uint8_t* src, std::uint8_t* dst) {
  constexpr const auto& ops = kOps<Rows>;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (ApplyOp<ops[I]>(src, dst), ...);
  }
  (std::make_index_sequence<ops.size()>{});
}

// True when every field that is read keeps its offset: such a record can be
// rebuilt where it lies.
constexpr bool KeepsOffsets(std::span<const Field> rows) {
  bool keeps = true;
  detail::Walk(rows, 0, 0, [&](const Op& op) {
    if ((op.rule == Rule::Copy || op.rule == Rule::Text) && op.src != op.dst) keeps = false;
  });
  return keeps;
}

// Rebuilds a record in place, for layouts that keep their offsets: copies
// are nothing to do, texts and cleared fields are rewritten where they are.
template <const auto& Rows>
inline void ApplyRecordInPlace(std::uint8_t* record) {
  static_assert(KeepsOffsets(Rows));
  constexpr const auto& ops = kOps<Rows>;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    ((ops[I].rule == Rule::Copy ? void() : ApplyOp<ops[I]>(record, record)), ...);
  }
  (std::make_index_sequence<ops.size()>{});
}

}  // namespace kvo::layout
