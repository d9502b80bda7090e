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

// Gathers small writes into one large one: a file's header, counts and
// small blocks go to the system in one call. A large write goes straight
// through, after what is gathered. Flush() before the bytes are needed.
class BufferedSink final : public ByteSink {
 public:
  BufferedSink(ByteSink& out, std::span<std::uint8_t> buffer) : out_(out), buffer_(buffer) {}
  void Write(std::span<const std::uint8_t> bytes) override;
  void Flush();

 private:
  // From this size on, copying into the buffer costs more than the call.
  static constexpr std::size_t kStraight = std::size_t{256} << 10;
  ByteSink& out_;
  std::span<std::uint8_t> buffer_;
  std::size_t used_ = 0;
};

}  // namespace kvo
