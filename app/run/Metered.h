// A file's bytes on their way through a conversion: counted as they are
// read and written, shown to the user every few megabytes, fingerprinted
// where asked, and stopped at when the user cancels; a failure of the
// system's said as the original's or the new file's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "Digest.h"
#include "Files.h"
#include "Stream.h"
#include "UserInterface.h"

namespace kvo::run {

// The user cancelled while a file was read or written: it rolls back.
struct Cancelled {};

using platform::FileError;

// The system could not give us the whole file, or could not take the new
// one: the user is told which.
struct ReadFailed {
  std::string reason;
};
struct WriteFailed {
  std::string reason;
};

// Counts the bytes of one file as they are read and written, tells the user
// every few megabytes, and stops there when asked to: until the file is
// complete, nothing of the user's has changed.
class Meter {
 public:
  Meter(UserInterface& ui, std::uint64_t total) : ui_(ui), total_(total) {}
  void Add(std::size_t bytes) {
    done_ += bytes;
    if (done_ - told_ < kStep) return;
    told_ = done_;
    ui_.FileProgress(std::min(done_, total_), total_);
    if (ui_.CancelRequested()) throw Cancelled{};
  }

 private:
  static constexpr std::uint64_t kStep = std::uint64_t{4} << 20;
  UserInterface& ui_;
  std::uint64_t total_, done_ = 0, told_ = 0;
};

class MeteredSource final : public ByteSource {
 public:
  MeteredSource(ByteSource& in, Meter& meter) : in_(in), meter_(meter) {}
  std::size_t Read(std::span<std::uint8_t> out) override {
    std::size_t n = 0;
    try {
      n = in_.Read(out);
    } catch (const FileError& e) {
      throw ReadFailed{platform::Reason(e)};
    }
    if (digest) digest->Add(out.first(n));
    meter_.Add(n);
    return n;
  }
  std::uint64_t Remaining() const override { return in_.Remaining(); }
  std::uint64_t Skip(std::uint64_t n) override {
    try {
      return in_.Skip(n);
    } catch (const FileError& e) {
      throw ReadFailed{platform::Reason(e)};
    }
  }

  // Where set, takes every byte read.
  Digest* digest = nullptr;

 private:
  ByteSource& in_;
  Meter& meter_;
};

class MeteredSink final : public ByteSink {
 public:
  MeteredSink(ByteSink& out, Meter& meter) : out_(out), meter_(meter) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    try {
      out_.Write(bytes);
    } catch (const FileError& e) {
      throw WriteFailed{platform::Reason(e)};
    }
    meter_.Add(bytes.size());
  }

 private:
  ByteSink& out_;
  Meter& meter_;
};

}  // namespace kvo::run
