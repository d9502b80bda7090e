// The system's files, with one chosen call made to fail: counts every call of
// the file layer (open, read, write, flush, close, rename, remove, folder
// flush) and fails the k-th as the system would.
#pragma once

#include <string>
#include <vector>

#include "Files.h"

namespace kvo::test {

class FaultyFiles : public platform::Files {
 public:
  explicit FaultyFiles(long failAt = 0, platform::Files& real = platform::SystemFiles())
      : failAt_(failAt), real_(real) {}

  std::unique_ptr<platform::InputFile> OpenRead(const std::string& path) override;
  std::unique_ptr<platform::OutputFile> CreateNew(const std::string& path) override;
  void RenameNoReplace(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  void SyncFolderOf(const std::string& path) override;

  // Every call is counted; the one numbered failAt (from 1) fails, and with
  // failFrom every call from then on.
  void Call(const char* what);
  long calls() const { return calls_; }
  const std::vector<std::string>& log() const { return log_; }
  bool failFrom = false;
  // Only calls of this kind count ("" for all).
  std::string only;

 private:
  long failAt_;
  platform::Files& real_;
  long calls_ = 0;
  std::vector<std::string> log_;
};

}  // namespace kvo::test
