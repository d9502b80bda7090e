// Holds a file open as another run of the tool holds it: through the file
// layer's own lock, so that no other run may take it meanwhile (a look may
// still read it).
#pragma once

#include <memory>
#include <string>

#include "Files.h"

namespace kvo::test {

class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  bool held() const { return file_ != nullptr; }

 private:
  std::unique_ptr<platform::InputFile> file_;
};

}  // namespace kvo::test
