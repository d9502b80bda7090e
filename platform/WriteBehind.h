// Writes new files' bytes on a thread of its own, so that the run reads and
// converts the next bytes, or the next file, on the other core meanwhile.
// The bytes handed over are copied into buffers of a fixed pool: at most a
// fixed amount waits at any time, whatever the files' sizes.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <utility>

namespace kvo::platform {

// The work of one file, done in the order it was handed over. A failure
// drops the work behind it and is thrown by the next Wait.
class Lane {
 public:
  using Writer = std::function<void(std::span<const std::uint8_t>)>;

  // write takes the file's bytes, a buffer at a time, in their order.
  explicit Lane(Writer write) : write_(std::move(write)) {}
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;
  // Waits for the work begun and drops the rest.
  ~Lane();

  // Copies bytes behind those before; small writes are gathered into one
  // buffer, and each full buffer goes to write. Waits while the pool has
  // no buffer free. Throws a failure of earlier work.
  void Write(std::span<const std::uint8_t> bytes);
  // Has work done once every byte written before it is.
  void Post(std::function<void()> work);
  // Waits until all bytes and work handed over are done; throws their
  // failure.
  void Wait();

 private:
  friend class Behind;
  Writer write_;
  std::unique_ptr<std::uint8_t[]> filling_;  // the buffer being gathered
  std::size_t filled_ = 0;
  int pending_ = 0;  // jobs queued or running
  std::exception_ptr failure_;
};

// The pool's buffers that are not free right now: none once every file's
// writes are waited for or dropped. For tests.
std::size_t BuffersInUse();

// For tests that must replay exactly: the thread takes work only while the
// run waits for it, so what is still queued at any moment never depends on
// how fast the thread is.
void WriteOnlyWhenWaited(bool on);

}  // namespace kvo::platform
