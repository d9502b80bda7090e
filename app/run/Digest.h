// A fingerprint of bytes as they stream past, whatever the pieces: two
// contents that differ agree by chance once in 2^64. It tells an edit from
// none where a disk keeps no change time to tell it; it is no defence
// against someone who wants to fool it.
#pragma once

#include <cstdint>
#include <span>

namespace kvo {

class Digest {
 public:
  void Add(std::span<const std::uint8_t> bytes) {
    length_ += bytes.size();
    std::size_t i = 0;
    while (fill_ != 0 && i < bytes.size()) Put(bytes[i++]);
    for (; i + 8 <= bytes.size(); i += 8) {
      std::uint64_t word = 0;
      for (int b = 7; b >= 0; --b) word = word << 8 | bytes[i + static_cast<std::size_t>(b)];
      Mix(word);
    }
    while (i < bytes.size()) Put(bytes[i++]);
  }
  std::uint64_t Value() const {
    Digest last = *this;
    last.Mix(last.pending_);
    last.Mix(last.length_);
    return last.state_ ^ last.state_ >> 29;
  }

 private:
  void Put(std::uint8_t byte) {
    pending_ |= std::uint64_t{byte} << (8 * fill_);
    if (++fill_ == 8) {
      Mix(pending_);
      pending_ = 0;
      fill_ = 0;
    }
  }
  void Mix(std::uint64_t word) {
    std::uint64_t x = (state_ ^ word) * 0x9E3779B97F4A7C15u;
    x = (x ^ x >> 32) * 0xBF58476D1CE4E5B9u;
    state_ = x ^ x >> 29;
  }

  std::uint64_t state_ = 0x243F6A8885A308D3u, pending_ = 0, length_ = 0;
  int fill_ = 0;
};

}  // namespace kvo
