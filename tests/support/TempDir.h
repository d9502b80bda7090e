// A fresh folder for one test, removed afterwards, with helpers to put files
// in it and look at what is there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kvo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  std::vector<std::uint8_t> Get(const std::string& name) const;
  bool Has(const std::string& name) const { return std::filesystem::exists(root_ / name); }
  // The names of everything in the folder.
  std::set<std::string> Names() const;

 private:
  std::filesystem::path root_;
};

}  // namespace kvo::test
