#include "HeldFile.h"

namespace kvo::test {

HeldFile::HeldFile(const std::string& path) {
  try {
    file_ = platform::SystemFiles().OpenRead(path);
  } catch (const platform::FileError&) {
  }
}

}  // namespace kvo::test
