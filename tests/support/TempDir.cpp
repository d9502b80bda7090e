#include "TempDir.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kvo::test {

TempDir::TempDir() {
  static std::atomic<int> next{0};
  root_ = std::filesystem::temp_directory_path() /
          ("kvo-test-" + std::to_string(::getpid()) + "-" + std::to_string(next++));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ignored;  // a folder left in /tmp is no reason to fail a test
  std::filesystem::remove_all(root_, ignored);
}

void TempDir::Put(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + name);
}

std::vector<std::uint8_t> TempDir::Get(const std::string& name) const {
  std::ifstream in(root_ / name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> TempDir::Names() const {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace kvo::test
