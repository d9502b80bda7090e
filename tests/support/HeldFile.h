// Holds a file open the way another run of the tool would, so that nobody
// else may open it meanwhile.
#pragma once

#include <string>

namespace kvo::test {

class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return held_; }

 private:
  void* handle_ = nullptr;
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace kvo::test
