#include "HeldFile.h"

#ifdef _WIN32
#include <windows.h>

#include "Utf8.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kvo::test {

#ifdef _WIN32

HeldFile::HeldFile(const std::string& path) {
  const HANDLE h = ::CreateFileW(platform::Wide(path).c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = h;
  held_ = h != INVALID_HANDLE_VALUE;
}

HeldFile::~HeldFile() {
  if (held_) ::CloseHandle(static_cast<HANDLE>(handle_));
}

#else

HeldFile::HeldFile(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY);
  held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0;
}

HeldFile::~HeldFile() {
  if (fd_ >= 0) ::close(fd_);
}

#endif

}  // namespace kvo::test
