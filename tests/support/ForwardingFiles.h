// A file layer that hands every call to another one: the base of the test
// layers that fail, record or change a few kinds of call.
#pragma once

#include <string>

#include "Files.h"

namespace kvo::test {

class ForwardingFiles : public platform::Files {
 public:
  explicit ForwardingFiles(platform::Files& real) : real_(real) {}

  std::unique_ptr<platform::FolderHold> HoldFolder(const std::string& folder) override {
    return real_.HoldFolder(folder);
  }
  std::string Resolve(const std::string& path) override { return real_.Resolve(path); }
  std::unique_ptr<platform::InputFile> OpenRead(const std::string& path) override {
    return real_.OpenRead(path);
  }
  std::unique_ptr<platform::InputFile> OpenToLook(const std::string& path) override {
    return real_.OpenToLook(path);
  }
  std::unique_ptr<platform::OutputFile> CreateNew(const std::string& path) override {
    return real_.CreateNew(path);
  }
  void SyncFiles(std::span<platform::OutputFile* const> files) override { real_.SyncFiles(files); }
  bool LinkNoReplace(const std::string& from, const std::string& to) override {
    return real_.LinkNoReplace(from, to);
  }
  void RenameNoReplace(const std::string& from, const std::string& to) override {
    real_.RenameNoReplace(from, to);
  }
  void RenameReplace(const std::string& from, const std::string& to) override {
    real_.RenameReplace(from, to);
  }
  bool Exchange(const std::string& a, const std::string& b) override {
    return real_.Exchange(a, b);
  }
  void Remove(const std::string& path) override { real_.Remove(path); }
  bool RemoveUnlessHeld(const std::string& path) override { return real_.RemoveUnlessHeld(path); }
  bool RenamesOpenFiles() const override { return real_.RenamesOpenFiles(); }
  std::optional<platform::FileIdentity> IdentityOf(const std::string& path) override {
    return real_.IdentityOf(path);
  }
  std::vector<platform::FolderEntry> List(const std::string& folder) override {
    return real_.List(folder);
  }
  void CheckCreatable(const std::string& path) override { real_.CheckCreatable(path); }
  void CheckReplaceable(const std::string& path) override { real_.CheckReplaceable(path); }
  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override {
    return real_.FreeBytes(folder);
  }
  void SyncFolder(const std::string& folder) override { real_.SyncFolder(folder); }
  std::size_t OpenFilesAllowed() override { return real_.OpenFilesAllowed(); }

 protected:
  platform::Files& real_;
};

}  // namespace kvo::test
