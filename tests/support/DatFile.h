// A data file split into its blocks, for building version 1.0 inputs field by
// field and for taking version 1.1 outputs apart. Written from the file
// layout on its own, apart from the code under test.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kvo::test {

enum class Version { V10, V11 };

struct BlockSpec {
  int number;
  bool counted;
  std::size_t records;   // fixed blocks: how many records
  std::size_t record10;  // record size in version 1.0
  std::size_t record11;  // record size in version 1.1
  std::size_t RecordSize(Version v) const { return v == Version::V10 ? record10 : record11; }
};

// B1 to B19 in file order. Opaque runs count as one record.
inline constexpr std::array<BlockSpec, 19> kBlocks = {{
    {1, false, 600, 134, 134}, {2, false, 512, 8, 8},     {3, false, 256, 96, 98},
    {4, false, 16, 104, 104},  {5, false, 400, 178, 178}, {6, true, 0, 140, 140},
    {7, true, 0, 330, 350},    {8, true, 0, 80, 80},      {9, true, 0, 104, 104},
    {10, true, 0, 46, 46},     {11, false, 30, 14, 14},   {12, true, 0, 37, 37},
    {13, true, 0, 14, 14},     {14, false, 1, 200, 200},  {15, false, 1, 16, 16},
    {16, false, 2513, 14, 14}, {17, true, 0, 76, 76},     {18, true, 0, 70, 70},
    {19, false, 1, 128, 128},
}};

const BlockSpec& BlockOf(int block);

std::array<std::uint8_t, 23> HeaderOf(Version v);

struct DatFile {
  Version version = Version::V10;
  std::array<std::uint8_t, 23> header{};
  std::array<std::int32_t, 20> counts{};             // by block number; counted blocks only
  std::array<std::vector<std::uint8_t>, 20> blocks;  // record bytes, by block number
  std::vector<std::uint8_t> trailer;                 // bytes behind B19

  // A file of this version with zero fixed blocks and all counts 0.
  static DatFile Empty(Version v);

  // Sets a counted block's count; a positive count gets that many zero records.
  void SetCount(int block, std::int32_t count);
  std::span<std::uint8_t> Record(int block, std::size_t i);
  std::span<const std::uint8_t> Record(int block, std::size_t i) const;
  std::size_t RecordCount(int block) const;

  std::vector<std::uint8_t> Bytes() const;
};

// Walks bytes with the block sizes of v. Returns nothing when the bytes end
// inside a block; bytes behind B19 go to trailer.
std::optional<DatFile> Split(std::span<const std::uint8_t> bytes, Version v);

// Field setters for building records.
void SetWord(std::span<std::uint8_t> rec, std::size_t offset, std::uint16_t value);
std::uint16_t Word(std::span<const std::uint8_t> rec, std::size_t offset);
// Length byte, then the characters.
void SetText(std::span<std::uint8_t> rec, std::size_t offset, std::uint8_t length,
             std::string_view chars);

// Deterministic bytes for tests and benchmarks (xorshift).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 2654435761u + 1) {}
  std::uint64_t Next();
  void Fill(std::span<std::uint8_t> bytes);

 private:
  std::uint64_t state_;
};

// Fills every record of every block of f with random bytes, text length
// bytes included.
void Randomise(DatFile& f, Random& random);

// A small random version 1.0 file: every fixed block and two B7 records.
std::vector<std::uint8_t> SmallFile(std::uint64_t seed = 1);

// A random version 1.0 file of about totalBytes, most of it in the counted
// blocks in the proportions a real layout has (B7 the largest).
DatFile SizedFile(std::uint64_t seed, std::uint64_t totalBytes);

}  // namespace kvo::test
