// Little-endian integers as the data file stores them. Explicit byte order, so
// the code reads the same on any host.
#pragma once

#include <cstdint>

namespace kvo {

inline std::uint16_t LoadLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::int32_t LoadLE32(const std::uint8_t* p) {
  const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                          (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  return static_cast<std::int32_t>(v);
}

}  // namespace kvo
