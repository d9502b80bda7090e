// A fresh folder for one test, removed afterwards, with helpers to put files
// in it and look at what is there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kvo::test {

// Paths as UTF-8 text, on every system.
std::filesystem::path FromUtf8(const std::string& utf8);
std::string ToUtf8(const std::filesystem::path& path);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const;
  void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  std::vector<std::uint8_t> Get(const std::string& name) const;
  bool Has(const std::string& name) const;
  // The names of everything in the folder.
  std::set<std::string> Names() const;

 private:
  std::filesystem::path root_;
};

}  // namespace kvo::test
