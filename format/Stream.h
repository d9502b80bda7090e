// Where the reader takes bytes from and the writer puts them. The file layer
// and in-memory buffers implement these; the data file code sees nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kvo {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to out.size() bytes; fewer only at the end of the data.
  virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
  // Bytes between the current position and the end.
  virtual std::uint64_t Remaining() const = 0;
  // Passes over n bytes (fewer at the end of the data); returns how many.
  // Reads them into a scratch buffer where the source cannot jump.
  virtual std::uint64_t Skip(std::uint64_t n);
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all bytes or throws.
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
};

// Reads until out is full or the data ends; returns how many bytes came.
std::size_t ReadFully(ByteSource& in, std::span<std::uint8_t> out);

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t Read(std::span<std::uint8_t> out) override;
  std::uint64_t Remaining() const override { return bytes_.size() - pos_; }
  std::uint64_t Skip(std::uint64_t n) override;

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// A window onto a larger file, for a pass that stops and goes on (the
// browser's): the file's bytes from some offset on, as many as its caller
// has read. A read of bytes beyond them throws Starved, naming the bytes
// wanted; a skip needs none.
class WindowSource final : public ByteSource {
 public:
  struct Starved {
    std::uint64_t offset;
    std::size_t size;
  };
  // A file of size bytes, read from position on.
  WindowSource(std::uint64_t size, std::uint64_t position) : size_(size), position_(position) {}
  // The bytes from offset on; the position stays where the pass left it.
  void Give(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    offset_ = offset;
    bytes_ = bytes;
  }
  std::size_t Read(std::span<std::uint8_t> out) override;
  std::uint64_t Remaining() const override { return size_ - position_; }
  std::uint64_t Skip(std::uint64_t n) override;
  std::uint64_t position() const { return position_; }

 private:
  std::uint64_t size_, position_;
  std::uint64_t offset_ = 0;
  std::span<const std::uint8_t> bytes_;
};

class VectorSink final : public ByteSink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }

 private:
  std::vector<std::uint8_t>& out_;
};

}  // namespace kvo
