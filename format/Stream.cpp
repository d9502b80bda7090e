#include "Stream.h"

#include <algorithm>
#include <cstring>

namespace kvo {

std::size_t MemorySource::Read(std::span<std::uint8_t> out) {
  const std::size_t n = std::min(out.size(), bytes_.size() - pos_);
  if (n > 0) std::memcpy(out.data(), bytes_.data() + pos_, n);
  pos_ += n;
  return n;
}

std::uint64_t MemorySource::Skip(std::uint64_t n) {
  const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - pos_));
  pos_ += k;
  return k;
}

std::size_t WindowSource::Read(std::span<std::uint8_t> out) {
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), Remaining()));
  if (want == 0) return 0;
  if (position_ < offset_ || position_ + want > offset_ + bytes_.size()) {
    throw Starved{position_, want};
  }
  std::memcpy(out.data(), bytes_.data() + (position_ - offset_), want);
  position_ += want;
  return want;
}

std::uint64_t WindowSource::Skip(std::uint64_t n) {
  const std::uint64_t k = std::min(n, Remaining());
  position_ += k;
  return k;
}

std::uint64_t ByteSource::Skip(std::uint64_t n) {
  std::uint8_t scratch[4096];
  std::uint64_t done = 0;
  while (done < n) {
    const std::size_t got = Read(std::span(scratch).first(
        static_cast<std::size_t>(std::min<std::uint64_t>(n - done, sizeof scratch))));
    if (got == 0) break;
    done += got;
  }
  return done;
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

}  // namespace kvo
