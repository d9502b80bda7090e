// The file layer over Win32. Paths arrive as UTF-8 and go to the wide
// functions, so names outside the ANSI code page work.
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "Files.h"
#include "Utf8.h"

namespace kvo::platform {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
  throw FileError(std::string(what) + " " + path + ": Windows error " +
                  std::to_string(::GetLastError()));
}

// Large blocks go out and come in in pieces; one call handles at most a
// DWORD's worth anyway.
constexpr std::size_t kChunk = std::size_t{1} << 20;

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&&) = delete;
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);  // only on paths that already failed
  }
  HANDLE get() const { return h_; }
  void Close(const std::string& path) {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h)) Fail("CloseHandle", path);
  }

 private:
  HANDLE h_;
};

class Win32Input final : public InputFile {
 public:
  Win32Input(Handle h, std::string path, std::uint64_t size)
      : h_(std::move(h)), path_(std::move(path)), remaining_(size) {}

  std::size_t Read(std::span<std::uint8_t> out) override {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min(out.size(), kChunk));
    if (!::ReadFile(h_.get(), out.data(), want, &got, nullptr)) Fail("ReadFile", path_);
    remaining_ -= std::min<std::uint64_t>(remaining_, got);
    return got;
  }
  std::uint64_t Remaining() const override { return remaining_; }
  void Close() override { h_.Close(path_); }

 private:
  Handle h_;
  std::string path_;
  std::uint64_t remaining_;
};

class Win32Output final : public OutputFile {
 public:
  Win32Output(Handle h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty()) {
      DWORD done = 0;
      const auto want = static_cast<DWORD>(std::min(bytes.size(), kChunk));
      if (!::WriteFile(h_.get(), bytes.data(), want, &done, nullptr) || done == 0) {
        Fail("WriteFile", path_);
      }
      bytes = bytes.subspan(done);
    }
  }
  void Sync() override {
    if (!::FlushFileBuffers(h_.get())) Fail("FlushFileBuffers", path_);
  }
  void Close() override { h_.Close(path_); }

 private:
  Handle h_;
  std::string path_;
};

class Win32Files final : public Files {
 public:
  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    // Share mode 0: no other program may open the file while it is read.
    Handle h(::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) Fail("CreateFileW", path);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h.get(), &size)) Fail("GetFileSizeEx", path);
    return std::make_unique<Win32Input>(std::move(h), path,
                                        static_cast<std::uint64_t>(size.QuadPart));
  }

  std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
    Handle h(::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) Fail("CreateFileW", path);
    return std::make_unique<Win32Output>(std::move(h), path);
  }

  void RenameNoReplace(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name
    // exists; write-through makes it durable before it returns.
    if (!::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
      Fail("MoveFileExW", from);
    }
  }

  void Remove(const std::string& path) override {
    if (!::DeleteFileW(Wide(path).c_str())) Fail("DeleteFileW", path);
  }

  bool Exists(const std::string& path) override {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // Windows has no flush for a folder; the write-through moves stand in.
  void SyncFolderOf(const std::string&) override {}
};

}  // namespace

Files& SystemFiles() {
  static Win32Files files;
  return files;
}

}  // namespace kvo::platform
