#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kvo::test {

std::filesystem::path FromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ToUtf8(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return {s.begin(), s.end()};
}

TempDir::TempDir() {
  static std::atomic<int> next{0};
  static const auto run = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = std::filesystem::temp_directory_path() /
          ("kvo-test-" + std::to_string(run) + "-" + std::to_string(next++));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ignored;  // a folder left in the temp folder is no reason to fail a test
  std::filesystem::remove_all(root_, ignored);
}

std::string TempDir::Path(const std::string& name) const {
  return ToUtf8(root_ / FromUtf8(name));
}

void TempDir::Put(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream out(root_ / FromUtf8(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + name);
}

std::vector<std::uint8_t> TempDir::Get(const std::string& name) const {
  std::ifstream in(root_ / FromUtf8(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool TempDir::Has(const std::string& name) const {
  return std::filesystem::exists(root_ / FromUtf8(name));
}

std::set<std::string> TempDir::Names() const {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    names.insert(ToUtf8(entry.path().filename()));
  }
  return names;
}

}  // namespace kvo::test
