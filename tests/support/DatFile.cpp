#include "DatFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kvo::test {

const BlockSpec& BlockOf(int block) {
  for (const BlockSpec& s : kBlocks) {
    if (s.number == block) return s;
  }
  throw std::out_of_range("no such block");
}

std::array<std::uint8_t, 23> HeaderOf(Version v) {
  const std::string_view text =
      v == Version::V10 ? "Ver. 1.0 vom 30.12.07 " : "Ver. 1.1 vom 20.10.09 ";
  std::array<std::uint8_t, 23> h{};
  h[0] = 22;
  std::memcpy(h.data() + 1, text.data(), 22);
  return h;
}

DatFile DatFile::Empty(Version v) {
  DatFile f;
  f.version = v;
  f.header = HeaderOf(v);
  for (const BlockSpec& s : kBlocks) {
    if (!s.counted) f.blocks[s.number].assign(s.records * s.RecordSize(v), 0);
  }
  return f;
}

void DatFile::SetCount(int block, std::int32_t count) {
  counts[block] = count;
  blocks[block].assign(count > 0 ? count * BlockOf(block).RecordSize(version) : 0, 0);
}

std::span<std::uint8_t> DatFile::Record(int block, std::size_t i) {
  const std::size_t size = BlockOf(block).RecordSize(version);
  return std::span(blocks[block]).subspan(i * size, size);
}

std::span<const std::uint8_t> DatFile::Record(int block, std::size_t i) const {
  const std::size_t size = BlockOf(block).RecordSize(version);
  return std::span(blocks[block]).subspan(i * size, size);
}

std::size_t DatFile::RecordCount(int block) const {
  return blocks[block].size() / BlockOf(block).RecordSize(version);
}

std::vector<std::uint8_t> DatFile::Bytes() const {
  std::vector<std::uint8_t> out(header.begin(), header.end());
  for (const BlockSpec& s : kBlocks) {
    if (s.counted) {
      const auto c = static_cast<std::uint32_t>(counts[s.number]);
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
    }
    out.insert(out.end(), blocks[s.number].begin(), blocks[s.number].end());
  }
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

std::optional<DatFile> Split(std::span<const std::uint8_t> bytes, Version v) {
  DatFile f;
  f.version = v;
  std::size_t pos = 0;
  auto take = [&](std::size_t n) -> std::optional<std::span<const std::uint8_t>> {
    if (bytes.size() - pos < n) return std::nullopt;
    auto s = bytes.subspan(pos, n);
    pos += n;
    return s;
  };
  const auto header = take(23);
  if (!header) return std::nullopt;
  std::copy(header->begin(), header->end(), f.header.begin());
  for (const BlockSpec& s : kBlocks) {
    std::size_t size = s.records * s.RecordSize(v);
    if (s.counted) {
      const auto raw = take(4);
      if (!raw) return std::nullopt;
      const std::uint32_t c =
          (*raw)[0] | ((*raw)[1] << 8) | ((*raw)[2] << 16) | (std::uint32_t{(*raw)[3]} << 24);
      f.counts[s.number] = static_cast<std::int32_t>(c);
      size = f.counts[s.number] > 0 ? f.counts[s.number] * s.RecordSize(v) : 0;
    }
    const auto block = take(size);
    if (!block) return std::nullopt;
    f.blocks[s.number].assign(block->begin(), block->end());
  }
  f.trailer.assign(bytes.begin() + pos, bytes.end());
  return f;
}

void SetWord(std::span<std::uint8_t> rec, std::size_t offset, std::uint16_t value) {
  rec[offset] = static_cast<std::uint8_t>(value);
  rec[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t Word(std::span<const std::uint8_t> rec, std::size_t offset) {
  return static_cast<std::uint16_t>(rec[offset] | (rec[offset + 1] << 8));
}

void SetText(std::span<std::uint8_t> rec, std::size_t offset, std::uint8_t length,
             std::string_view chars) {
  rec[offset] = length;
  std::memcpy(rec.data() + offset + 1, chars.data(), chars.size());
}

std::uint64_t Random::Next() {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 7;
  state_ ^= state_ << 17;
  return state_;
}

void Random::Fill(std::span<std::uint8_t> bytes) {
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    const std::uint64_t r = Next();
    std::memcpy(bytes.data() + i, &r, 8);
  }
  for (; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(Next());
}

void Randomise(DatFile& f, Random& random) {
  for (const BlockSpec& s : kBlocks) random.Fill(f.blocks[s.number]);
}

DatFile SizedFile(std::uint64_t seed, std::uint64_t totalBytes) {
  DatFile f = DatFile::Empty(Version::V10);
  const std::uint64_t fixed = f.Bytes().size();
  const std::uint64_t rest = totalBytes > fixed ? totalBytes - fixed : 0;
  // Percent of the counted bytes per block.
  const std::pair<int, int> shares[] = {{6, 11}, {7, 45}, {8, 9},  {9, 8}, {10, 9},
                                        {12, 4}, {13, 3}, {17, 6}, {18, 5}};
  for (auto [block, percent] : shares) {
    const std::uint64_t count = rest * percent / 100 / BlockOf(block).record10;
    f.SetCount(block, static_cast<std::int32_t>(count));
  }
  Random random(seed);
  Randomise(f, random);
  return f;
}

std::vector<std::uint8_t> SmallFile(std::uint64_t seed) {
  DatFile f = DatFile::Empty(Version::V10);
  f.SetCount(7, 2);
  Random random(seed);
  Randomise(f, random);
  return f.Bytes();
}

}  // namespace kvo::test
