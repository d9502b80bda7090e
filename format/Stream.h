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
