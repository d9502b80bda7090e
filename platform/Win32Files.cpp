// The file layer over Win32. Paths arrive as UTF-8 and go to the wide
// functions as extended-length paths (\\?\C:\...), so names outside the ANSI
// code page and paths beyond 260 characters work.
#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <string>
#include <utility>

#include "Files.h"
#include "Interrupts.h"
#include "Paths.h"
#include "Utf8.h"
#include "WriteBehind.h"

namespace kvo::platform {

Problem ProblemOf(int code) {
  const auto error = static_cast<DWORD>(code);
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return Problem::Missing;
    case ERROR_ACCESS_DENIED:
      return Problem::NoAccess;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Problem::Locked;
    case ERROR_FILENAME_EXCED_RANGE:
      return Problem::TooLong;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Problem::TooManyOpen;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Problem::Full;
    default:
      return Problem::Other;
  }
}

namespace {

// An antivirus scanner or the search indexer holds a file for a moment after
// it is written: a call that meets a sharing violation is tried again, with
// growing pauses, for about two seconds before it counts as failed (and the
// file as held by another program).
template <class Call>
bool Patiently(Call call) {
  constexpr unsigned kPatience = 2000;
  unsigned waited = 0, pause = 10;
  for (;;) {
    if (call()) return true;
    const DWORD error = ::GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) ||
        waited >= kPatience) {
      ::SetLastError(error);
      return false;
    }
    PauseWhileBusy(pause);
    waited += pause;
    pause = std::min(pause * 2, 500u);
  }
}

// How long a run waits for a look at the same file (which holds it only
// while it reads) before the file counts as held by another program.
constexpr unsigned kLookPatience = 10'000;

[[noreturn]] void Fail(const char* what, const std::string& path) {
  const DWORD error = ::GetLastError();
  throw FileError(std::string(what) + " " + path + ": Windows error " + std::to_string(error),
                  ProblemOf(error), static_cast<int>(error));
}

[[noreturn]] void NotRegular(const std::string& path) {
  throw FileError("not a regular file: " + path, Problem::NotRegular);
}

constexpr std::wstring_view kExtended = L"\\\\?\\";
constexpr std::wstring_view kExtendedUnc = L"\\\\?\\UNC\\";

// The full path with the prefix that lifts the 260-character limit.
std::wstring Long(const std::string& path) {
  std::wstring wide = Wide(path);
  if (wide.starts_with(kExtended)) return wide;
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  full.resize(::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr));
  if (full.starts_with(L"\\\\")) return std::wstring(kExtendedUnc) + full.substr(2);
  return std::wstring(kExtended) + full;
}

// The other way: a path as the user reads it.
std::string Plain(std::wstring wide) {
  if (wide.starts_with(kExtendedUnc)) {
    wide = L"\\\\" + wide.substr(kExtendedUnc.size());
  } else if (wide.starts_with(kExtended)) {
    wide = wide.substr(kExtended.size());
  }
  return Utf8(wide);
}

std::int64_t Ticks(const FILETIME& t) {
  return (static_cast<std::int64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 100;
}

FILETIME FileTime(std::int64_t ticks) {
  const auto t = static_cast<std::uint64_t>(ticks);
  return {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

// The file behind an open handle, its change time among it: no program can
// set that back, as one can the time of its last write.
FileIdentity IdentityFrom(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
  FILE_BASIC_INFO basic{};
  const std::int64_t changed =
      ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
          ? static_cast<std::int64_t>(basic.ChangeTime.QuadPart) * 100
          : 0;
  return {info.dwVolumeSerialNumber,
          static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow,
          static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow,
          Ticks(info.ftLastWriteTime), changed};
}

// Large blocks go out and come in in pieces; one call handles at most a
// DWORD's worth anyway, and an interrupt is noticed between pieces.
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
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  void Close(const std::string& path) {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h)) Fail("CloseHandle", path);
  }

 private:
  HANDLE h_;
};

// The run's lock on a file: one byte far behind any file's end, which no
// read or write touches, taken by a run alone and by a look shared for a
// moment. Byte-range locks, unlike sharing modes, tell a run from a look:
// both read, so sharing alone would let a second run in.
bool LockRange(HANDLE h, bool alone) {
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFF0;
  return ::LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY | (alone ? LOCKFILE_EXCLUSIVE_LOCK : 0), 0, 1, 0,
                      &at);
}

void UnlockRange(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFF0;
  ::UnlockFileEx(h, 0, 1, 0, &at);
}

// Takes the run's lock, refused at once while another run holds it; a look
// that holds it for a moment is waited for, as on POSIX, so that no look
// ever makes a run fail. A signal ends the wait.
void LockForRun(HANDLE h, const std::string& path) {
  for (unsigned waited = 0, pause = 1;; waited += pause, pause = std::min(pause * 2, 50u)) {
    if (LockRange(h, true)) return;
    const DWORD error = ::GetLastError();
    // A disk without locks (a network share) says it cannot.
    if (error != ERROR_LOCK_VIOLATION) {
      throw FileError("LockFileEx " + path + ": Windows error " + std::to_string(error),
                      Problem::NoLock, static_cast<int>(error));
    }
    // A shared lock of our own fails only where a run holds the file.
    if (waited >= kLookPatience || !LockRange(h, false)) {
      ::SetLastError(error);
      Fail("LockFileEx", path);
    }
    UnlockRange(h);
    ThrowIfInterrupted();
    PauseWhileBusy(pause);
  }
}

// A handle on the name itself that reads nothing: it stands in no one's way.
Handle Look(const std::wstring& path) {
  return Handle(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

class Win32Input final : public InputFile {
 public:
  Win32Input(Handle h, std::string path, const BY_HANDLE_FILE_INFORMATION& info)
      : h_(std::move(h)),
        path_(std::move(path)),
        identity_(IdentityFrom(h_.get(), info)),
        remaining_(identity_.size),
        attributes_{reinterpret_cast<std::intptr_t>(h_.get()),
                    info.dwFileAttributes,
                    0,
                    0,
                    Ticks(info.ftCreationTime) / 100,
                    Ticks(info.ftLastAccessTime) / 100,
                    Ticks(info.ftLastWriteTime) / 100} {}

  std::size_t Read(std::span<std::uint8_t> out) override {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min(out.size(), kChunk));
    if (!::ReadFile(h_.get(), out.data(), want, &got, nullptr)) Fail("ReadFile", path_);
    remaining_ -= std::min<std::uint64_t>(remaining_, got);
    return got;
  }
  std::uint64_t Remaining() const override { return remaining_; }
  std::uint64_t Skip(std::uint64_t n) override {
    const std::uint64_t k = std::min(n, remaining_);
    LARGE_INTEGER by{};
    by.QuadPart = static_cast<LONGLONG>(k);
    if (!::SetFilePointerEx(h_.get(), by, nullptr, FILE_CURRENT)) Fail("SetFilePointerEx", path_);
    remaining_ -= k;
    return k;
  }
  void Close() override { h_.Close(path_); }
  void Rewind() override {
    if (!::SetFilePointerEx(h_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
      Fail("SetFilePointerEx", path_);
    }
    remaining_ = identity_.size;
  }
  const FileIdentity& Identity() const override { return identity_; }
  const FileAttributes& Attributes() const override { return attributes_; }
  bool Unlocked() const override { return unlocked; }
  bool unlocked = false;

 private:
  Handle h_;
  std::string path_;
  FileIdentity identity_;
  std::uint64_t remaining_;
  FileAttributes attributes_;
};

class Win32Output final : public OutputFile {
 public:
  Win32Output(Handle h, std::string path)
      : h_(std::move(h)),
        path_(std::move(path)),
        lane_([this](std::span<const std::uint8_t> bytes) { WriteNow(bytes); }) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    ThrowIfInterrupted();
    lane_.Write(bytes);
  }
  // On the lane's thread.
  void WriteNow(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      DWORD done = 0;
      const auto want = static_cast<DWORD>(std::min(bytes.size(), kChunk));
      if (!::WriteFile(h_.get(), bytes.data(), want, &done, nullptr) || done == 0) {
        Fail("WriteFile", path_);
      }
      bytes = bytes.subspan(done);
    }
  }
  // The new file takes the original's access rules (its own entries, and
  // whether it inherits its folder's) and attributes, as ReplaceFileW keeps
  // them.
  void Complete(const InputFile& from) override {
    const FileAttributes& original = from.Attributes();
    const auto handle = reinterpret_cast<HANDLE>(original.handle);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
      SECURITY_DESCRIPTOR_CONTROL control = 0;
      DWORD revision = 0;
      ::GetSecurityDescriptorControl(descriptor, &control, &revision);
      const SECURITY_INFORMATION what =
          DACL_SECURITY_INFORMATION |
          ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                              : UNPROTECTED_DACL_SECURITY_INFORMATION);
      const DWORD set =
          ::SetSecurityInfo(h_.get(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
      ::LocalFree(descriptor);
      if (set != ERROR_SUCCESS) {
        ::SetLastError(set);
        Fail("SetSecurityInfo", path_);
      }
    }
    constexpr DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = original.mode & kept;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(h_.get(), FileBasicInfo, &basic, sizeof basic)) {
      Fail("SetFileInformationByHandle", path_);
    }
  }
  void KeepTimes(const InputFile& from) override {
    lane_.Wait();
    const FileAttributes& original = from.Attributes();
    const FILETIME created = FileTime(original.created), accessed = FileTime(original.accessed),
                   written = FileTime(original.modified);
    if (!::SetFileTime(h_.get(), &created, &accessed, &written)) {
      Fail("SetFileTime", path_);
    }
  }
  void Finish() override { lane_.Wait(); }
  void Sync() override {
    lane_.Wait();
    if (!::FlushFileBuffers(h_.get())) Fail("FlushFileBuffers", path_);
  }
  // Windows flushes one file at a time.
  void SyncFileSystem() override { Sync(); }
  std::uint64_t Device() const override { return 0; }
  bool KeepsChangeTime() override {
    lane_.Wait();
    // 2000-01-01 as FILETIME; FAT keeps no change time, NTFS does.
    const ULARGE_INTEGER ticks{.QuadPart = 125911584000000000ULL};
    const FILETIME past{ticks.LowPart, ticks.HighPart};
    FILE_BASIC_INFO basic{};
    const bool set = ::SetFileTime(h_.get(), nullptr, &past, &past) &&
                     ::GetFileInformationByHandleEx(h_.get(), FileBasicInfo, &basic, sizeof basic);
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ::SetFileTime(h_.get(), nullptr, &now, &now);
    return set && basic.ChangeTime.QuadPart != basic.LastWriteTime.QuadPart;
  }
  void Close() override {
    lane_.Wait();
    h_.Close(path_);
  }

 private:
  Handle h_;
  std::string path_;
  Lane lane_;  // gone before h_: nothing is written to a closed file
};

class Win32Files final : public Files {
 public:
  // A folder opened without sharing delete access cannot be renamed or
  // moved until it is closed: the run's names stay true. Where it cannot be
  // opened so, the names are used as they are.
  std::unique_ptr<FolderHold> HoldFolder(const std::string& folder) override {
    struct Held final : FolderHold {
      explicit Held(Handle h) : handle(std::move(h)) {}
      Handle handle;
    };
    Handle h(::CreateFileW(Long(folder).c_str(), FILE_LIST_DIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return std::make_unique<Held>(std::move(h));
  }
  std::string Resolve(const std::string& path) override {
    const std::wstring name = Long(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) Fail("GetFileAttributesW", path);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return Plain(name);
    // A link: the final path of the name it leads to.
    const Handle followed(
        ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!followed.valid()) Fail("CreateFileW", path);
    std::wstring final(32768, L'\0');
    const DWORD n =
        ::GetFinalPathNameByHandleW(followed.get(), final.data(), static_cast<DWORD>(final.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= final.size()) Fail("GetFinalPathNameByHandleW", path);
    final.resize(n);
    return Plain(final);
  }

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    // No other program may write the file while it is converted, and no
    // other run may hold it (the run's lock); reading is shared, so that a
    // status or verify that reads it meanwhile neither fails nor makes this
    // open fail, and so is renaming it, so that the run can give the file
    // it holds a name.
    auto file = Open(path, FILE_SHARE_READ | FILE_SHARE_DELETE);
    LockForRun(reinterpret_cast<HANDLE>(file->Attributes().handle), path);
    return file;
  }

  std::unique_ptr<InputFile> OpenToLook(const std::string& path) override {
    // Shared with everyone; refused while a run holds the file.
    auto file = Open(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const auto h = reinterpret_cast<HANDLE>(file->Attributes().handle);
    // A disk without locks is read all the same.
    if (LockRange(h, false)) {
      UnlockRange(h);
    } else if (::GetLastError() == ERROR_LOCK_VIOLATION) {
      Fail("LockFileEx", path);
    } else {
      static_cast<Win32Input&>(*file).unlocked = true;
    }
    return file;
  }

  std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
    Handle h(::CreateFileW(Long(path).c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) Fail("CreateFileW", path);
    return std::make_unique<Win32Output>(std::move(h), path);
  }

  void SyncFiles(std::span<OutputFile* const> files) override {
    for (OutputFile* file : files) file->Sync();
  }

  bool LinkNoReplace(const std::string& from, const std::string& to) override {
    if (Patiently([&] { return ::CreateHardLinkW(Long(to).c_str(), Long(from).c_str(), nullptr); }))
      return true;
    switch (::GetLastError()) {
      case ERROR_INVALID_FUNCTION:  // FAT and exFAT
      case ERROR_NOT_SUPPORTED:     // some network shares
      case ERROR_INVALID_PARAMETER:
      case ERROR_TOO_MANY_LINKS:
        return false;
      default:
        Fail("CreateHardLinkW", from);
    }
  }

  void RenameNoReplace(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name
    // exists; write-through makes it durable before it returns.
    if (!Patiently([&] {
          return ::MoveFileExW(Long(from).c_str(), Long(to).c_str(), MOVEFILE_WRITE_THROUGH);
        })) {
      Fail("MoveFileExW", from);
    }
  }

  void RenameReplace(const std::string& from, const std::string& to) override {
    const std::wstring target = Long(to);
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    const auto move = [&] { return ::MoveFileExW(Long(from).c_str(), target.c_str(), flags); };
    bool moved = Patiently(move);
    DWORD error = ::GetLastError();
    if (moved) return;
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    // Windows replaces no file that is open (a look reading it, another run
    // letting go): said as held, for the run to wait for. A write-protected
    // file says the same.
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
      throw FileError("MoveFileExW " + from + ": " + to + " is open", Problem::Locked,
                      static_cast<int>(error));
    }
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES) {
      ::SetLastError(error);
      Fail("MoveFileExW", from);
    }
    // A write-protected file cannot be replaced. Its protection is lifted
    // for the move and put back on it through a handle that follows it to
    // its other name.
    const Handle replaced(::CreateFileW(target.c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!replaced.valid()) Fail("CreateFileW", to);
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(replaced.get(), FileBasicInfo, &basic, sizeof basic)) {
      Fail("SetFileInformationByHandle", to);
    }
    moved = ::MoveFileExW(Long(from).c_str(), target.c_str(), flags);
    error = ::GetLastError();
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(replaced.get(), FileBasicInfo, &basic, sizeof basic);
    ::SetLastError(error);
    if (!moved) Fail("MoveFileExW", from);
  }

  void Remove(const std::string& path) override {
    if (!Patiently([&] { return ::DeleteFileW(Long(path).c_str()); })) Fail("DeleteFileW", path);
  }

  // A file another run is writing is open without sharing; one it holds
  // has the run's lock. Removed through the handle that holds the lock, so
  // that no run takes the file in between.
  bool RemoveUnlessHeld(const std::string& path) override {
    Handle h(::CreateFileW(Long(path).c_str(), GENERIC_READ | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid()) {
      switch (::GetLastError()) {
        case ERROR_SHARING_VIOLATION:
          return false;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
          return true;
        default:
          Fail("CreateFileW", path);
      }
    }
    if (!LockRange(h.get(), true)) {
      if (::GetLastError() == ERROR_LOCK_VIOLATION) return false;
      Fail("LockFileEx", path);
    }
    FILE_DISPOSITION_INFO gone{TRUE};
    if (!::SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone)) {
      Fail("SetFileInformationByHandle", path);
    }
    h.Close(path);
    return true;
  }

  bool Exchange(const std::string&, const std::string&) override { return false; }

  bool RenamesOpenFiles() const override { return false; }

  std::optional<FileIdentity> IdentityOf(const std::string& path) override {
    const Handle h = Look(Long(path));
    if (!h.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
      Fail("CreateFileW", path);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info)) Fail("GetFileInformationByHandle", path);
    return IdentityFrom(h.get(), info);
  }

  std::vector<FolderEntry> List(const std::string& folder) override {
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileExW(Long(JoinPath(folder, "*")).c_str(), FindExInfoBasic,
                                           &found, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) Fail("FindFirstFileExW", folder);
    std::vector<FolderEntry> entries;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const DWORD a = found.dwFileAttributes;
      entries.push_back({Utf8(name), (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                         (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0});
    } while (::FindNextFileW(find, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
      ::SetLastError(error);
      Fail("FindNextFileW", folder);
    }
    return entries;
  }

  void CheckCreatable(const std::string& path) override {
    if (Wide(NameOf(path)).size() > 255) {
      ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
      Fail("name", path);
    }
    // Opening the folder for adding a file asks exactly the question
    // creating one would, and changes nothing.
    const std::string folder = FolderOf(path);
    const Handle h(::CreateFileW(Long(folder).c_str(), FILE_ADD_FILE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid()) Fail("CreateFileW", folder);
  }

  // Windows' access rules to rename over a file are those to write it,
  // which the run's open of the file has met already.
  void CheckReplaceable(const std::string&) override {}

  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Long(folder).c_str(), &available, nullptr, nullptr)) {
      return std::nullopt;
    }
    return available.QuadPart;
  }

  // Windows has no flush for a folder; the write-through moves stand in.
  void SyncFolder(const std::string&) override {}

  // Handles are limited only by memory.
  std::size_t OpenFilesAllowed() override { return std::size_t{1} << 20; }

 private:
  std::unique_ptr<InputFile> Open(const std::string& path, DWORD share) {
    const std::wstring name = Long(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) Fail("GetFileAttributesW", path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw FileError("a folder: " + path, Problem::Folder);
    }
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) NotRegular(path);
    HANDLE opened = INVALID_HANDLE_VALUE;
    Patiently([&] {
      opened = ::CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      return opened != INVALID_HANDLE_VALUE;
    });
    Handle h(opened);
    if (!h.valid()) Fail("CreateFileW", path);
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) NotRegular(path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info)) Fail("GetFileInformationByHandle", path);
    return std::make_unique<Win32Input>(std::move(h), path, info);
  }
};

}  // namespace

std::string Reason(const FileError& error) {
  if (error.code() == 0) return ProblemReason(error.problem());
  // The system's own words, in the user's language.
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error.code()), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = n > 0 && text != nullptr ? std::wstring(text, n) : L"";
  if (text != nullptr) ::LocalFree(text);
  while (!words.empty() &&
         (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ')) {
    words.pop_back();
  }
  if (words.empty()) {
    return "Das System meldet einen Fehler (Nummer " + std::to_string(error.code()) + ").";
  }
  return Utf8(words);
}

Files& SystemFiles() {
  static Win32Files files;
  return files;
}

}  // namespace kvo::platform
