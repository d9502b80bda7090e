#include "Names.h"

#include <cstdint>
#include <cstdio>

#include "Paths.h"

namespace kvo {

namespace {

// FNV-1a: short, stable across systems and releases.
std::string NameTag(const std::string& name) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  char tag[17];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(hash));
  return tag;
}

bool AllDigits(std::string_view s) {
  return s.find_first_not_of("0123456789") == std::string_view::npos;
}

// prefix, then nothing or separator and a number, then ending.
bool NumberedName(std::string_view name, std::string_view prefix, std::string_view separator,
                  std::string_view ending) {
  if (name.size() < prefix.size() + ending.size() || !name.starts_with(prefix) ||
      !name.ends_with(ending)) {
    return false;
  }
  std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - ending.size());
  if (middle.empty()) return true;
  if (!middle.starts_with(separator)) return false;
  middle.remove_prefix(separator.size());
  return !middle.empty() && AllDigits(middle);
}

}  // namespace

bool EndsWith(std::string_view name, std::string_view ending) {
  if (name.size() <= ending.size()) return false;
  return std::equal(ending.begin(), ending.end(), name.end() - ending.size(), [](char a, char b) {
    return a == std::tolower(static_cast<unsigned char>(b));
  });
}

bool IsTemporaryOf(std::string_view candidate, const std::string& name) {
  const std::string ours = std::string(kTemporaryPrefix) + NameTag(name);
  return NumberedName(candidate, ours, "-", kTemporaryEnding) ||
         NumberedName(candidate, ours, "-", kBackupEnding) ||
         NumberedName(candidate, name + std::string(kEarlierEnding), "", "");
}

// A short name beside path, tied to path's name: the prefix, the name's tag,
// the attempt's number after the first, and the ending.
std::string BesidePath(const std::string& path, int attempt, std::string_view ending) {
  return platform::JoinPath(platform::FolderOf(path),
                            std::string(kTemporaryPrefix) + NameTag(platform::NameOf(path)) +
                                (attempt == 0 ? "" : "-" + std::to_string(attempt)) +
                                std::string(ending));
}

std::string TemporaryPath(const std::string& path, int attempt) {
  return BesidePath(path, attempt, kTemporaryEnding);
}

std::string BackupPath(std::string_view path) {
  std::size_t nameStart = path.size();
  while (nameStart > 0 && !platform::IsSeparator(path[nameStart - 1])) --nameStart;
  const std::size_t dot = path.rfind('.');
  const std::size_t stem = (dot != std::string_view::npos && dot >= nameStart) ? dot : path.size();
  return std::string(path.substr(0, stem)) + std::string(kBackupNameEnding);
}

std::string DataPathOf(std::string_view backup, bool upper) {
  return std::string(backup.substr(0, backup.size() - kBackupNameEnding.size())) +
         (upper ? ".DAT" : std::string(kDataEnding));
}

char32_t NextCharacter(std::string_view text, std::size_t& pos, bool* broken) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length = lead < 0x80                    ? 1
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
  if (pos + length > text.size()) length = 0;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) length = 0;
    c = c << 6 | (byte(pos + i) & 0x3F);
  }
  if (broken != nullptr) *broken = length == 0;
  if (length == 0) {
    ++pos;
    return lead;
  }
  pos += length;
  return c;
}

namespace {

// Letters as their base letter in lower case: ä as a, ß as ss; any other
// character as its UTF-8 bytes, after every letter of the Latin alphabet.
void AppendFolded(char32_t c, std::string_view bytes, std::string& key) {
  if (c >= 'A' && c <= 'Z') {
    key += static_cast<char>(c - 'A' + 'a');
    return;
  }
  switch (c) {
    case 0xE4:
    case 0xC4:
      key += 'a';
      return;  // ä Ä
    case 0xF6:
    case 0xD6:
      key += 'o';
      return;  // ö Ö
    case 0xFC:
    case 0xDC:
      key += 'u';
      return;  // ü Ü
    case 0xDF:
      key += "ss";
      return;  // ß
    default:
      key.append(bytes);
  }
}

}  // namespace

std::string SortKey(std::string_view name) {
  std::string key;
  for (std::size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= '0' && byte <= '9') {
      // A number: its length, then its digits, leading zeros aside, so that
      // a shorter number comes first; before any letter.
      std::size_t end = i;
      while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
      std::size_t first = i;
      while (first + 1 < end && name[first] == '0') ++first;
      key += '0';
      key += static_cast<char>(end - first);
      key.append(name.substr(first, end - first));
      i = end;
      continue;
    }
    const std::size_t start = i;
    const char32_t c = NextCharacter(name, i);
    AppendFolded(c, name.substr(start, i - start), key);
  }
  // Equal so far: the bytes decide, so that no two names tie.
  key += '\0';
  key.append(name);
  return key;
}

}  // namespace kvo
