#include "WriteBehind.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace kvo::platform {

// The thread and its pool, one for the process.
class Behind {
 public:
  // Never destroyed: its thread waits for work until the process ends, and
  // nothing is left to write by then. A forked child has none of its
  // parent's threads and gets a pool of its own.
  static Behind& Get() {
    static Behind* behind = [] {
#ifndef _WIN32
      ::pthread_atfork(nullptr, nullptr, [] { forked_ = true; });
#endif
      return new Behind;
    }();
    if (forked_) {
      forked_ = false;
      behind = new Behind;
    }
    return *behind;
  }

  // False where no thread can be had: the caller does the work itself.
  bool Started() {
    if (thread_.joinable()) return true;
    if (failedToStart_) return false;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      failedToStart_ = true;
    }
    return thread_.joinable();
  }

  std::unique_lock<std::mutex> Lock() {
    return std::unique_lock(mutex_);
  }

  // A free buffer of the pool, waiting for one where need be.
  std::unique_ptr<std::uint8_t[]> Buffer(std::unique_lock<std::mutex>& lock) {
    ++wantsBuffer_;
    work_.notify_one();
    freed_.wait(lock, [this] { return !free_.empty() || made_ < kBuffers; });
    --wantsBuffer_;
    if (!free_.empty()) {
      auto buffer = std::move(free_.back());
      free_.pop_back();
      return buffer;
    }
    ++made_;
    return std::make_unique_for_overwrite<std::uint8_t[]>(kBufferBytes);
  }

  void Queue(Lane& lane, std::function<void()> work, std::unique_ptr<std::uint8_t[]> buffer) {
    ++lane.pending_;
    jobs_.push_back({&lane, std::move(work), std::move(buffer)});
    work_.notify_one();
  }

  // The bytes the lane gathered, on their way to its writer.
  void QueueFilling(Lane& lane) {
    if (!lane.filling_) return;
    const std::span<const std::uint8_t> piece(lane.filling_.get(), lane.filled_);
    Queue(
        lane, [&lane, piece] { lane.write_(piece); }, std::move(lane.filling_));
    lane.filled_ = 0;
  }

  // Drops the lane's jobs that are not begun and waits for the one that is.
  void Drop(std::unique_lock<std::mutex>& lock, Lane& lane) {
    Release(std::move(lane.filling_));
    for (auto it = jobs_.begin(); it != jobs_.end();) {
      if (it->lane != &lane) {
        ++it;
        continue;
      }
      Release(std::move(it->buffer));
      --lane.pending_;
      it = jobs_.erase(it);
    }
    Settled(lock, lane);
  }

  void Settled(std::unique_lock<std::mutex>& lock, Lane& lane) {
    waitedFor_ = &lane;
    work_.notify_one();
    settled_.wait(lock, [&] { return lane.pending_ == 0; });
    waitedFor_ = nullptr;
  }

  void OnlyWhenWaited(bool on) {
    std::lock_guard lock(mutex_);
    onlyWhenWaited_ = on;
    work_.notify_one();
  }

  static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

  std::size_t InUse() {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(made_) - free_.size();
  }

 private:
  static constexpr int kBuffers = 16;

  struct Job {
    Lane* lane;
    std::function<void()> work;
    std::unique_ptr<std::uint8_t[]> buffer;
  };

  void Release(std::unique_ptr<std::uint8_t[]> buffer) {
    if (!buffer) return;
    free_.push_back(std::move(buffer));
    freed_.notify_one();
  }

  void Run() {
#ifndef _WIN32
    // Interrupting signals go to the run's own thread, which rolls back.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
#endif
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return !jobs_.empty() && Wanted(); });
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      if (!job.lane->failure_) {
        lock.unlock();
        std::exception_ptr failure;
        try {
          job.work();
        } catch (...) {
          failure = std::current_exception();
        }
        lock.lock();
        if (failure && !job.lane->failure_) job.lane->failure_ = failure;
      }
      Release(std::move(job.buffer));
      if (--job.lane->pending_ == 0) settled_.notify_all();
    }
  }

  // Whether the thread is to take the next job: always, or, where it works
  // only when waited for, while the lane waited for has work left or the
  // run waits for a buffer that none has freed. (One thread waits at most.)
  bool Wanted() const {
    return !onlyWhenWaited_ || (waitedFor_ && waitedFor_->pending_ > 0) ||
           (wantsBuffer_ > 0 && free_.empty() && made_ >= kBuffers);
  }

  std::mutex mutex_;
  std::condition_variable work_, freed_, settled_;
  std::deque<Job> jobs_;
  std::vector<std::unique_ptr<std::uint8_t[]>> free_;
  int made_ = 0;
  bool failedToStart_ = false;
  bool onlyWhenWaited_ = false;
  Lane* waitedFor_ = nullptr;
  int wantsBuffer_ = 0;
  static inline bool forked_ = false;  // in a child, since the pool was made
  std::thread thread_;
};

Lane::~Lane() {
  Behind& behind = Behind::Get();
  auto lock = behind.Lock();
  behind.Drop(lock, *this);
}

void Lane::Write(std::span<const std::uint8_t> bytes) {
  Behind& behind = Behind::Get();
  auto lock = behind.Lock();
  if (!behind.Started()) {
    lock.unlock();
    write_(bytes);
    return;
  }
  while (!bytes.empty()) {
    if (failure_) std::rethrow_exception(failure_);
    if (!filling_) filling_ = behind.Buffer(lock);
    const std::size_t n = std::min(bytes.size(), Behind::kBufferBytes - filled_);
    lock.unlock();  // the writer goes on meanwhile
    std::memcpy(filling_.get() + filled_, bytes.data(), n);
    lock.lock();
    filled_ += n;
    bytes = bytes.subspan(n);
    if (filled_ == Behind::kBufferBytes) behind.QueueFilling(*this);
  }
}

void Lane::Post(std::function<void()> work) {
  Behind& behind = Behind::Get();
  auto lock = behind.Lock();
  if (!behind.Started()) {
    lock.unlock();
    work();
    return;
  }
  behind.QueueFilling(*this);
  behind.Queue(*this, std::move(work), nullptr);
}

std::size_t BuffersInUse() {
  return Behind::Get().InUse();
}

void WriteOnlyWhenWaited(bool on) {
  Behind::Get().OnlyWhenWaited(on);
}

void Lane::Wait() {
  Behind& behind = Behind::Get();
  auto lock = behind.Lock();
  behind.QueueFilling(*this);
  behind.Settled(lock, *this);
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace kvo::platform
