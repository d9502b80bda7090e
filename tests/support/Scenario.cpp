#include "Scenario.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

#include "Commit.h"
#include "Container.h"
#include "DatFile.h"
#include "Names.h"
#include "Paths.h"
#include "Summary.h"
#include "TempDir.h"

namespace kvo::test {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Bad(int line, const std::string& what) {
  throw std::runtime_error("scenarios.txt:" + std::to_string(line) + ": " + what);
}

// Words split at spaces; "quoted words" may hold spaces and \xNN escapes.
std::vector<std::string> Words(const std::string& text, int line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (quoted && c == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      word += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else if (!quoted && c == ' ') {
      if (any || !word.empty()) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
    }
  }
  if (quoted) Bad(line, "a quote is not closed");
  if (any || !word.empty()) words.push_back(word);
  return words;
}

Entry ParseEntry(const std::string& word, int line) {
  Entry e;
  if (const auto at = word.find("=>"); at != std::string::npos) {
    e = {Entry::HardLink, word.substr(0, at), word.substr(at + 2), {}, false};
  } else if (const auto arrow = word.find("->"); arrow != std::string::npos) {
    e = {Entry::Link, word.substr(0, arrow), word.substr(arrow + 2), {}, false};
  } else if (const auto eq = word.find('='); eq != std::string::npos) {
    e = {Entry::File, word.substr(0, eq), word.substr(eq + 1), {}, false};
  } else if (word.find('/') != std::string::npos) {
    e = {Entry::Folder, word.substr(0, word.find_last_of('/')), "", {}, false};
    if (const auto mode = word.find('@', e.name.size()); mode != std::string::npos) {
      e.mode = static_cast<unsigned>(std::stoul(word.substr(mode + 1), nullptr, 8));
      e.roots = word.ends_with(":root");
    }
    return e;
  } else {
    Bad(line, "not an entry: " + word);
  }
  if (e.kind == Entry::File) {
    if (const auto mode = e.contents.find('@'); mode != std::string::npos) {
      e.mode = static_cast<unsigned>(std::stoul(e.contents.substr(mode + 1), nullptr, 8));
      e.roots = e.contents.ends_with(":root");
      e.contents.resize(mode);
    }
    Contents(e.contents);  // a fault in the table shows here, with its line
  }
  e.name = ExpandName(e.name);
  if (e.kind != Entry::File) e.contents = ExpandName(e.contents);
  return e;
}

std::vector<Entry> Entries(const std::string& text, int line) {
  std::vector<Entry> out;
  for (const std::string& word : Words(text, line)) {
    try {
      out.push_back(ParseEntry(word, line));
    } catch (const std::invalid_argument&) {
      Bad(line, "not an entry: " + word);
    }
  }
  return out;
}

std::vector<std::uint8_t> Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + ToUtf8(path));
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + ToUtf8(path));
}

std::string Escaped(const std::string& name) {
  std::string out;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// Every entry below folder: name -> its path, folders as "name/".
void Walk(const fs::path& folder, const std::string& prefix, std::map<std::string, fs::path>& out) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = prefix + ToUtf8(entry.path().filename());
    if (entry.is_directory() && !entry.is_symlink()) {
      out[name + "/"] = entry.path();
      Walk(entry.path(), name + "/", out);
    } else {
      out[name] = entry.path();
    }
  }
}

unsigned ModeOf(const fs::path& path) {
#ifdef _WIN32
  (void)path;
  return 0;
#else
  struct stat st {};
  if (::lstat(ToUtf8(path).c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
#endif
}

}  // namespace

std::vector<std::uint8_t> Contents(const std::string& expression) {
  std::size_t pos = expression.find_first_of("+-~>");
  const std::string base = expression.substr(0, pos);
  std::vector<std::uint8_t> bytes;
  if (base.starts_with("v10/") || base.starts_with("big/")) {
    const std::uint64_t seed = std::stoull(base.substr(4));
    bytes = SizedFile(seed, base[0] == 'v' ? 50'000 : std::uint64_t{9} << 20).Bytes();
  } else if (base == "neg") {
    DatFile f = DatFile::Empty(Version::V10);
    f.counts[9] = -1;
    bytes = f.Bytes();
  } else if (base == "note") {
    const std::string text = "Nicht vergessen: Weichen ölen.\n";
    bytes.assign(text.begin(), text.end());
  } else if (base != "empty") {
    throw std::invalid_argument(expression);
  }
  while (pos < expression.size()) {
    const std::string rest = expression.substr(pos);
    if (rest.starts_with("+tail")) {
      for (const char c : std::string("0123456789ABCDEFGHIJ")) bytes.push_back(c);
      pos += 5;
    } else if (rest.starts_with("-cut")) {
      bytes.resize(bytes.size() - std::min<std::size_t>(bytes.size(), 100));
      pos += 4;
    } else if (rest.starts_with("+!")) {
      bytes.push_back('!');
      pos += 2;
    } else if (rest.starts_with("~")) {
      if (bytes.size() <= 100) throw std::invalid_argument(expression);
      bytes[100] ^= 1;
      pos += 1;
    } else if (rest.starts_with(">11")) {
      bytes = ConvertImage(bytes, *std::make_unique<TableSets>());
      pos += 3;
    } else {
      throw std::invalid_argument(expression);
    }
  }
  return bytes;
}

std::string ExpandName(const std::string& name) {
  const auto start = name.find("{tmp:");
  if (start == std::string::npos) return name;
  const auto end = name.find('}', start);
  const std::string of = name.substr(start + 5, end - start - 5);
  // The name the run gives the new file, in the data file's folder.
  const auto slash = of.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : of.substr(0, slash + 1);
  const std::string temporary = platform::NameOf(TemporaryPath("x/" + of.substr(folder.size()), 0));
  return name.substr(0, start) + folder + temporary + name.substr(end + 1);
}

std::vector<Scenario> ReadScenarios(const std::string& path) {
  std::ifstream in(FromUtf8(path));
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<Scenario> rows;
  std::string text;
  int number = 0;
  std::set<std::string> names;
  while (std::getline(in, text)) {
    ++number;
    if (text.empty() || text[0] == '#') continue;
    const auto colon = text.find(": ");
    if (colon == std::string::npos) Bad(number, "no field");
    const std::string key = text.substr(0, colon), value = text.substr(colon + 2);
    if (key == "row") {
      if (!names.insert(value).second) Bad(number, "a second row named " + value);
      rows.push_back({});
      rows.back().name = value;
      rows.back().line = number;
      continue;
    }
    if (rows.empty()) Bad(number, "a field before the first row");
    Scenario& row = rows.back();
    if (key == "files") {
      for (Entry& e : Entries(value, number)) row.files.push_back(std::move(e));
    } else if (key == "run") {
      row.run = Words(value, number);
    } else if (key == "user") {
      row.plainUser = value == "plain";
    } else if (key == "at") {
      const auto words = Words(value, number);
      if (words.size() < 2) Bad(number, "at: STEP [FILE] ACTION [ARGS]");
      Scenario::Event e;
      e.step = words[0];
      std::size_t next = 1;
      if (e.step != "start") e.file = words[next++];
      if (next >= words.size()) Bad(number, "no action");
      e.action = words[next++];
      e.args.assign(words.begin() + static_cast<std::ptrdiff_t>(next), words.end());
      row.at = e;
    } else if (key == "after") {
      for (Entry& e : Entries(value, number)) row.after.push_back(std::move(e));
    } else if (key == "then") {
      if (!row.then) row.then.emplace();
      for (Entry& e : Entries(value, number)) row.then->push_back(std::move(e));
    } else if (key == "line" || key == "line!") {
      row.lines.push_back({key == "line!", value});
    } else if (key == "sum") {
      row.sum = value;
    } else if (key == "exit") {
      row.exit = std::stoi(value);
    } else if (key == "not-on") {
      const auto space = value.find(' ');
      if (space == std::string::npos) Bad(number, "not-on: SURFACE,... REASON");
      std::stringstream surfaces(value.substr(0, space));
      for (std::string s; std::getline(surfaces, s, ',');) row.notOn[s] = value.substr(space + 1);
    } else {
      Bad(number, "unknown field " + key);
    }
  }
  return rows;
}

void Build(const std::string& folder, const std::vector<Entry>& entries,
           std::optional<unsigned> owner) {
  const fs::path root = FromUtf8(folder);
  for (const Entry& e : entries) {
    const fs::path path = root / FromUtf8(e.name);
    fs::create_directories(path.parent_path());
    switch (e.kind) {
      case Entry::Folder:
        fs::create_directories(path);
        break;
      case Entry::File:
        Write(path, Contents(e.contents));
        break;
      case Entry::HardLink:
        fs::create_hard_link(root / FromUtf8(e.contents), path);
        break;
      case Entry::Link:
        fs::create_symlink(FromUtf8(e.contents), path);
        break;
    }
  }
  // Owner and modes last: a change of owner clears set-ID bits, and a
  // folder closed to its owner's listing is still filled.
#ifndef _WIN32
  if (owner) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (::lchown(entry.path().c_str(), *owner, *owner) != 0) {
        throw std::runtime_error("cannot give away " + ToUtf8(entry.path()));
      }
    }
    if (::chown(folder.c_str(), *owner, *owner) != 0) throw std::runtime_error("cannot give away");
  }
  for (const Entry& e : entries) {
    if (e.roots && ::lchown(ToUtf8(root / FromUtf8(e.name)).c_str(), 0, 0) != 0) {
      throw std::runtime_error("cannot give to root: " + e.name);
    }
    if (e.mode) ::chmod(ToUtf8(root / FromUtf8(e.name)).c_str(), *e.mode);
  }
#else
  (void)owner;
#endif
}

std::vector<std::string> Differences(const std::string& folder, const std::vector<Entry>& entries,
                                     bool modes) {
  const fs::path root = FromUtf8(folder);
  std::map<std::string, fs::path> found;
  Walk(root, "", found);
  std::vector<std::string> out;
  std::set<std::string> expected;
  for (const Entry& e : entries) {
    const std::string name = e.kind == Entry::Folder ? e.name + "/" : e.name;
    expected.insert(name);
    // The folders on the way are there too.
    for (auto slash = name.find('/'); slash != std::string::npos && slash + 1 < name.size();
         slash = name.find('/', slash + 1)) {
      expected.insert(name.substr(0, slash + 1));
    }
    const auto it = found.find(name);
    if (it == found.end()) {
      out.push_back(Escaped(name) + " is missing");
      continue;
    }
    const fs::path& path = it->second;
    if (e.kind == Entry::File && Read(path) != Contents(e.contents)) {
      out.push_back(Escaped(name) + " does not hold " + e.contents);
    } else if (e.kind == Entry::HardLink) {
      std::error_code error;
      if (!fs::equivalent(path, root / FromUtf8(e.contents), error)) {
        out.push_back(Escaped(name) + " is not a second name of " + e.contents);
      }
    } else if (e.kind == Entry::Link &&
               (!fs::is_symlink(path) || ToUtf8(fs::read_symlink(path)) != e.contents)) {
      out.push_back(Escaped(name) + " is no link to " + e.contents);
    }
    if (modes && e.mode && ModeOf(path) != *e.mode) {
      std::ostringstream said;
      said << Escaped(name) << " has mode " << std::oct << ModeOf(path) << ", not " << *e.mode;
      out.push_back(said.str());
    }
  }
  for (const auto& [name, path] : found) {
    if (!expected.contains(name)) out.push_back(Escaped(name) + " is left over");
  }
  return out;
}

bool IsAt(const Scenario::Event& event, Step step, const std::string& path) {
  if (kStepNames[static_cast<int>(step)] != event.step) return false;
  const std::string relative = ToUtf8(fs::path(FromUtf8(path)).generic_u8string());
  return relative == event.file || relative.ends_with("/" + event.file);
}

bool DoToFiles(const Scenario::Event& e, const std::string& folder) {
  const auto at = [&](const std::string& name) { return folder + "/" + name; };
  const std::string target = at(e.args.empty() ? e.file : e.args.front());
  if (e.action == "append") {
    Append(target);
  } else if (e.action == "saveover") {
    SaveOver(target);
  } else if (e.action == "rewrite") {
    RewriteKeepingTime(target);
  } else if (e.action == "remove") {
    fs::remove(FromUtf8(target));
  } else if (e.action == "rename") {
    fs::rename(FromUtf8(at(e.args.at(0))), FromUtf8(at(e.args.at(1))));
  } else if (e.action == "put") {
    // Another program's new file under a name the run is about to take.
    Write(FromUtf8(at(e.args.at(0))), Contents(e.args.at(1)));
  } else {
    return false;
  }
  return true;
}

std::vector<Line> LinesOf(const std::vector<FileResult>& results, const std::string& folder) {
  std::vector<Line> lines;
  for (const FileResult& r : results) {
    if (r.outcome == Outcome::NotReached) continue;
    std::string text = Printable(FileLine(r));
    // Named by their full paths, said as the command line says them.
    for (const std::string& prefix : {folder + "/", folder + "\\"}) {
      for (auto at = text.find(prefix); at != std::string::npos; at = text.find(prefix)) {
        text.erase(at, prefix.size());
      }
    }
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '\\', '/');
#endif
    lines.push_back({IsProblem(r), text});
  }
  return lines;
}

std::vector<std::string> Mismatches(const Scenario& row, const std::vector<FileResult>& results,
                                    const std::string& folder, bool modes) {
  std::vector<std::string> out = Differences(folder, row.after, modes);
  const auto lines = LinesOf(results, folder);
  for (std::size_t i = 0; i < std::max(lines.size(), row.lines.size()); ++i) {
    const auto said = [](const std::vector<Line>& all, std::size_t at) {
      if (at >= all.size()) return std::string("no line");
      std::ostringstream line;
      line << all[at];
      return line.str();
    };
    if (i >= lines.size() || i >= row.lines.size() || lines[i] != row.lines[i]) {
      out.push_back("said \"" + said(lines, i) + "\", not \"" + said(row.lines, i) + "\"");
    }
  }
  if (row.sum && CountsLine(results, results.empty() ? Operation::Convert : results[0].operation) !=
                     *row.sum) {
    out.push_back("counted " + CountsLine(results, Operation::Convert));
  }
  return out;
}

void Append(const std::string& path) {
  std::ofstream(FromUtf8(path), std::ios::app | std::ios::binary) << '!';
}

void SaveOver(const std::string& path) {
  // As an editor saves: a new file under another name, renamed over it.
  const fs::path saved = FromUtf8(path + ".neu");
  Write(saved, Contents("v10/9"));
  fs::rename(saved, FromUtf8(path));
}

void RewriteKeepingTime(const std::string& path) {
  const fs::path file = FromUtf8(path);
  const auto time = fs::last_write_time(file);
#ifndef _WIN32
  struct stat before {};
  ::stat(path.c_str(), &before);
  // FAT and exFAT through FUSE keep no change time: one rewrite is all.
  struct statfs disk {};
  const bool fuse = ::statfs(path.c_str(), &disk) == 0 && disk.f_type == 0x65735546;
#endif
  auto bytes = Read(file);
  bytes[100] ^= 1;
  for (int attempt = 0;; ++attempt) {
    // A disk without change times (FAT, exFAT) never shows it.
    if (attempt == 100'000) throw std::runtime_error("no change time shows the rewrite");
    {
      std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
      out.seekp(100);
      out.put(static_cast<char>(bytes[100]));
    }
    fs::last_write_time(file, time);
#ifndef _WIN32
    struct stat now {};
    ::stat(path.c_str(), &now);
    if (fuse || now.st_ctim.tv_sec != before.st_ctim.tv_sec ||
        now.st_ctim.tv_nsec != before.st_ctim.tv_nsec) {
      return;
    }
#else
    return;
#endif
  }
}

}  // namespace kvo::test
