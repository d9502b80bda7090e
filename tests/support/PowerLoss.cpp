#include "PowerLoss.h"

#include <filesystem>
#include <set>
#include <stdexcept>

#include "Paths.h"
#include "TempDir.h"

namespace kvo::test {

namespace {

class RecordingOutput final : public platform::OutputFile {
 public:
  RecordingOutput(std::unique_ptr<platform::OutputFile> real, RecordingFiles& files, int inode)
      : real_(std::move(real)), files_(files), inode_(inode) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    real_->Write(bytes);
    files_.Add({DiskOp::Write, inode_, {}, {}, {bytes.begin(), bytes.end()}});
  }
  void Complete(const platform::InputFile& from) override { real_->Complete(from); }
  void KeepTimes(const platform::InputFile& from) override { real_->KeepTimes(from); }
  void Finish() override { real_->Finish(); }
  void Sync() override {
    real_->Sync();
    files_.Add({DiskOp::SyncFile, inode_, {}, {}, {}});
  }
  void SyncFileSystem() override {
    real_->SyncFileSystem();
    files_.Add({DiskOp::SyncAll, 0, {}, {}, {}, 0, real_->Device()});
  }
  std::uint64_t Device() const override { return real_->Device(); }
  bool KeepsChangeTime() override { return real_->KeepsChangeTime(); }
  void Close() override { real_->Close(); }
  int inode() const { return inode_; }

 private:
  std::unique_ptr<platform::OutputFile> real_;
  RecordingFiles& files_;
  int inode_;
};

// An inode's bytes: all that was written, and how much of it is durable.
struct Data {
  std::vector<std::uint8_t> bytes;
  std::size_t durable = 0;
};

void Apply(const DiskOp& op, std::map<std::string, int>& names) {
  switch (op.kind) {
    case DiskOp::Create:
      names[op.from] = op.inode;
      break;
    case DiskOp::Link:
      names[op.to] = op.inode;
      break;
    case DiskOp::Rename:
      names[op.to] = op.inode;
      if (names.count(op.from) && names[op.from] == op.inode) names.erase(op.from);
      break;
    case DiskOp::Remove:
      if (names.count(op.from) && names[op.from] == op.inode) names.erase(op.from);
      break;
    case DiskOp::Exchange:
      names[op.from] = op.other;
      names[op.to] = op.inode;
      break;
    default:
      break;
  }
}

}  // namespace

RecordingFiles::RecordingFiles(std::map<std::string, std::vector<std::uint8_t>> start,
                               platform::Files& real,
                               const std::map<std::string, std::string>& sameAs,
                               const std::string& root)
    : ForwardingFiles(real),
      root_(root.empty() ? std::filesystem::path() : std::filesystem::canonical(FromUtf8(root))),
      start_(std::move(start)) {
  for (const auto& [name, bytes] : start_) {
    const auto first = sameAs.find(name);
    names_[name] = first != sameAs.end() && names_.contains(first->second) ? names_[first->second]
                                                                           : NewInode();
  }
  startInodes_ = names_;
}

int RecordingFiles::InodeOf(const std::string& path) const {
  const auto it = names_.find(Key(path));
  if (it == names_.end()) throw std::logic_error("no such name in the model: " + path);
  return it->second;
}

std::unique_ptr<platform::OutputFile> RecordingFiles::CreateNew(const std::string& path) {
  auto real = real_.CreateNew(path);
  const int inode = NewInode();
  names_[Key(path)] = inode;
  Add({DiskOp::Create, inode, Key(path), {}, {}, 0, real->Device()});
  return std::make_unique<RecordingOutput>(std::move(real), *this, inode);
}

void RecordingFiles::SyncFiles(std::span<platform::OutputFile* const> files) {
  // The layer below flushes each file, or each file system once, through
  // the files given: they record what it did.
  real_.SyncFiles(files);
}

void RecordingFiles::Moved(const std::string& from, const std::string& to) {
  const int inode = InodeOf(from);
  names_[Key(to)] = inode;
  names_.erase(Key(from));
  Add({DiskOp::Rename, inode, Key(from), Key(to), {}});
}

bool RecordingFiles::LinkNoReplace(const std::string& from, const std::string& to) {
  if (!real_.LinkNoReplace(from, to)) return false;
  const int inode = InodeOf(from);
  names_[Key(to)] = inode;
  Add({DiskOp::Link, inode, Key(from), Key(to), {}});
  return true;
}

void RecordingFiles::RenameNoReplace(const std::string& from, const std::string& to) {
  real_.RenameNoReplace(from, to);
  Moved(from, to);
}

void RecordingFiles::RenameReplace(const std::string& from, const std::string& to) {
  real_.RenameReplace(from, to);
  Moved(from, to);
}

bool RecordingFiles::Exchange(const std::string& a, const std::string& b) {
  if (!real_.Exchange(a, b)) return false;
  const int x = InodeOf(a), y = InodeOf(b);
  names_[Key(a)] = y;
  names_[Key(b)] = x;
  Add({DiskOp::Exchange, x, Key(a), Key(b), {}, y});
  return true;
}

void RecordingFiles::Remove(const std::string& path) {
  real_.Remove(path);
  Add({DiskOp::Remove, InodeOf(path), Key(path), {}, {}});
  names_.erase(Key(path));
}

bool RecordingFiles::RemoveUnlessHeld(const std::string& path) {
  const bool known = names_.count(Key(path)) != 0;
  if (!real_.RemoveUnlessHeld(path)) return false;
  if (known) {
    Add({DiskOp::Remove, InodeOf(path), Key(path), {}, {}});
    names_.erase(Key(path));
  }
  return true;
}

void RecordingFiles::SyncFolder(const std::string& folder) {
  real_.SyncFolder(folder);
  Add({DiskOp::SyncFolder, 0, platform::FolderOf(Key(platform::JoinPath(folder, "x"))), {}, {}});
}

std::string RecordingFiles::Key(const std::string& path) const {
  if (root_.empty()) return platform::NameOf(path);
  const auto folder = std::filesystem::weakly_canonical(FromUtf8(platform::FolderOf(path)))
                          .lexically_relative(root_);
  return (folder == "." ? "" : folder.string() + "/") + platform::NameOf(path);
}

namespace {

// The disk after the first done calls: what is durable, and the name
// changes since the last folder flush.
struct Replayed {
  std::map<int, Data> data;
  std::map<int, std::uint64_t> device;  // of each file made in the run
  std::map<std::string, int> durable;
  std::vector<const DiskOp*> pending;
};

Replayed Replay(const RecordingFiles& run, std::size_t done) {
  Replayed r;
  auto& [data, device, durable, pending] = r;
  for (const auto& [name, bytes] : run.start()) {
    const int inode = run.startInodes().at(name);
    durable[name] = inode;
    data[inode] = {bytes, bytes.size()};
  }
  for (std::size_t i = 0; i < done; ++i) {
    const DiskOp& op = run.ops()[i];
    switch (op.kind) {
      case DiskOp::Write:
        data[op.inode].bytes.insert(data[op.inode].bytes.end(), op.bytes.begin(), op.bytes.end());
        break;
      case DiskOp::Create:
        device[op.inode] = op.device;
        pending.push_back(&op);
        break;
      case DiskOp::SyncFile:
        data[op.inode].durable = data[op.inode].bytes.size();
        break;
      case DiskOp::SyncFolder:
        // Its own folder's name changes; another's stay pending.
        std::erase_if(pending, [&](const DiskOp* p) {
          const bool here = run.root().empty() || platform::FolderOf(p->from) == op.from;
          if (here) Apply(*p, r.durable);
          return here;
        });
        break;
      case DiskOp::SyncAll:
        if (op.kind == DiskOp::SyncAll) {
          // Its file system's data; files of another stay as they were.
          for (auto& [n, d] : data) {
            if (op.device == 0 || !device.contains(n) || device[n] == op.device) {
              d.durable = d.bytes.size();
            }
          }
        }
        for (const DiskOp* p : pending) Apply(*p, durable);
        pending.clear();
        break;
      default:
        pending.push_back(&op);
        break;
    }
  }
  return r;
}

}  // namespace

std::size_t UnflushedNameChanges(const RecordingFiles& run, std::size_t done) {
  return Replay(run, done).pending.size();
}

std::vector<DiskState> StatesAfter(const RecordingFiles& run, std::size_t done, Persistence model,
                                   std::optional<std::uint64_t> one) {
  auto [data, device, durable, pending] = Replay(run, done);
  if (!one && pending.size() > 16)
    throw std::logic_error("too many unflushed name changes to model");

  // Which subsets of the pending name changes survive, each kept in order.
  std::vector<std::vector<const DiskOp*>> survivors;
  if (one) {
    auto& kept = survivors.emplace_back();
    for (std::size_t i = 0; i < pending.size(); ++i) {
      const bool survives = model == Persistence::InOrder     ? i < *one % (pending.size() + 1)
                            : model == Persistence::AllButOne ? i != *one % pending.size()
                                                              : ((*one >> (i % 48)) & 1) != 0;
      if (survives) kept.push_back(pending[i]);
    }
  } else if (model == Persistence::InOrder) {
    for (std::size_t n = 0; n <= pending.size(); ++n) {
      survivors.emplace_back(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
    }
  } else if (model == Persistence::AllButOne) {
    if (pending.empty()) survivors.emplace_back();
    for (std::size_t lost = 0; lost < pending.size(); ++lost) {
      auto& kept = survivors.emplace_back();
      for (std::size_t i = 0; i < pending.size(); ++i) {
        if (i != lost) kept.push_back(pending[i]);
      }
    }
  } else {
    for (unsigned mask = 0; mask < (1u << pending.size()); ++mask) {
      auto& kept = survivors.emplace_back();
      for (std::size_t i = 0; i < pending.size(); ++i) {
        if (mask & (1u << i)) kept.push_back(pending[i]);
      }
    }
  }
  bool unflushed = false;
  for (const auto& [n, d] : data) unflushed = unflushed || d.durable < d.bytes.size();
  enum Fate { None, Half, Zeros, All };
  std::vector<Fate> fates = unflushed ? std::vector{None, Half, Zeros, All} : std::vector{All};
  if (one) fates = {fates[(*one >> 48) % fates.size()]};

  std::set<std::pair<std::map<std::string, std::vector<std::uint8_t>>, std::map<std::string, int>>>
      seen;
  std::vector<DiskState> states;
  for (const auto& kept : survivors) {
    std::map<std::string, int> names = durable;
    for (const DiskOp* op : kept) Apply(*op, names);
    for (const Fate fate : fates) {
      DiskState state;
      for (const auto& [name, node] : names) {
        const Data& d = data[node];
        const std::size_t lost = d.bytes.size() - d.durable;
        std::vector<std::uint8_t> bytes(d.bytes.begin(),
                                        d.bytes.begin() + static_cast<std::ptrdiff_t>(d.durable));
        if (fate == Half) {
          bytes.insert(bytes.end(), d.bytes.begin() + static_cast<std::ptrdiff_t>(d.durable),
                       d.bytes.begin() + static_cast<std::ptrdiff_t>(d.durable + lost / 2));
        } else if (fate == Zeros) {
          bytes.resize(d.bytes.size(), 0);
        } else if (fate == All) {
          bytes = d.bytes;
        }
        state.files[name] = std::move(bytes);
        state.inode[name] = node;
      }
      if (seen.insert({state.files, state.inode}).second) states.push_back(std::move(state));
    }
  }
  return states;
}

void Materialize(const DiskState& state, const TempDir& folder) {
  std::map<int, std::string> first;  // inode -> the name it was written under
  for (const auto& [name, bytes] : state.files) {
    const int node = state.inode.at(name);
    std::filesystem::create_directories(FromUtf8(folder.Path(name)).parent_path());
    if (const auto it = first.find(node); it != first.end()) {
      std::filesystem::create_hard_link(FromUtf8(folder.Path(it->second)),
                                        FromUtf8(folder.Path(name)));
    } else {
      folder.Put(name, bytes);
      first[node] = name;
    }
  }
}

}  // namespace kvo::test
