// Building blocks of both table sets: records are packed byte images, exactly
// as they lie in the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace kvo {

template <std::size_t Size>
using Record = std::array<std::uint8_t, Size>;

// Leaves new records uninitialised instead of zeroing them: the reader and
// every conversion write each byte of the records they size, so zeroing first
// would only cost a pass over hundreds of megabytes.
template <class T>
struct NoInitAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = NoInitAllocator<U>;
  };
  NoInitAllocator() = default;
  template <class U>
  NoInitAllocator(const NoInitAllocator<U>&) noexcept {}

  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// A counted block's table: one contiguous run of records plus its length.
template <class Rec>
using Growable = std::vector<Rec, NoInitAllocator<Rec>>;

template <class Rec, std::size_t Count>
using Fixed = std::array<Rec, Count>;

// The bytes of a table, as they go to and come from the file.
template <class Table>
std::span<const std::uint8_t> Bytes(const Table& t) {
  return {reinterpret_cast<const std::uint8_t*>(t.data()), t.size() * sizeof(t[0])};
}

template <class Table>
std::span<std::uint8_t> Bytes(Table& t) {
  return {reinterpret_cast<std::uint8_t*>(t.data()), t.size() * sizeof(t[0])};
}

}  // namespace kvo
