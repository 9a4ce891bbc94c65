// Host-tree snapshots and the package comparison of disk_state.h.
#include "support/disk_state.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/extra_calls.h"

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::string DosAttributesOf(const std::string& path) {
  char text[64];
  ssize_t n = lgetxattr(path.c_str(), "user.DOSATTRIB", text, sizeof text);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// FILETIME ticks (100 ns since 1601) of a host time.
uint64_t FileTimeTicks(const struct timespec& time) {
  return static_cast<uint64_t>(static_cast<int64_t>(time.tv_sec) * 10000000 + time.tv_nsec / 100 +
                               116444736000000000LL);
}

std::string Describe(const HostNode& node) {
  std::ostringstream text;
  text << node.kind << " " << node.contents.size() << " bytes, mode " << std::oct << node.mode
       << std::dec << ", time " << node.modifiedNs << ", attributes '" << node.dosAttributes << "'";
  return text.str();
}

}  // namespace

HostTree SnapshotHostTree(const std::string& root, const std::string& skip) {
  HostTree tree;
  std::error_code error;
  fs::recursive_directory_iterator it(root, error), end;
  for (; !error && it != end; it.increment(error)) {
    const std::string full = it->path().string();
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (!skip.empty() && relative == skip) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    HostNode node;
    node.mode = st.st_mode;
    node.dosAttributes = DosAttributesOf(full);
    if (S_ISREG(st.st_mode)) {
      node.kind = 'f';
      node.contents = ReadWhole(full);
      node.modifiedNs = Nanoseconds(st.st_mtim);
    } else if (S_ISDIR(st.st_mode)) {
      node.kind = 'd';
    } else if (S_ISLNK(st.st_mode)) {
      node.kind = 'l';
      node.contents = fs::read_symlink(it->path(), error).string();
      node.modifiedNs = Nanoseconds(st.st_mtim);
    }
    tree[relative] = node;
  }
  return tree;
}

std::string TreeDifference(const HostTree& before, const HostTree& after) {
  std::ostringstream out;
  for (const auto& [path, node] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      out << "gone: " << path << "\n";
      continue;
    }
    const HostNode& now = found->second;
    if (now.kind != node.kind || now.contents != node.contents || now.mode != node.mode ||
        now.modifiedNs != node.modifiedNs || now.dosAttributes != node.dosAttributes) {
      out << "changed: " << path << ": was " << Describe(node) << "; now " << Describe(now)
          << (now.contents != node.contents ? " (other contents)" : "") << "\n";
    }
  }
  for (const auto& [path, node] : after) {
    if (before.count(path) == 0) out << "new: " << path << " (" << Describe(node) << ")\n";
  }
  return out.str();
}

HostTree FilterTree(const HostTree& tree, const std::function<bool(const std::string&)>& keep) {
  HostTree kept;
  for (const auto& item : tree) {
    if (keep(item.first)) kept.insert(item);
  }
  return kept;
}

std::vector<std::string> EntryHostPaths(const ScratchDrive& drive, const std::string& folder,
                                        const std::vector<PackEntry>& entries) {
  std::vector<std::string> paths;
  const std::string root = drive.HostRoot() + "/";
  for (const PackEntry& entry : entries) {
    paths.push_back(drive.HostPath(folder + "\\" + entry.name).substr(root.size()));
  }
  return paths;
}

std::string PackageMismatch(const ScratchDrive& drive, const std::string& folder,
                            const std::vector<PackEntry>& entries) {
  // The last entry of each name is the one left on the disk.
  std::map<std::string, const PackEntry*> last;
  for (const PackEntry& entry : entries) last[entry.name] = &entry;

  std::ostringstream out;
  for (const auto& [name, entry] : last) {
    const std::string relative = folder + "\\" + name;
    const std::string host = drive.HostPath(relative);
    struct stat st;
    if (lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      out << "missing or not a file: " << relative << "\n";
      continue;
    }
    if (ReadWhole(host) != entry->data) {
      out << "other contents: " << relative << " (" << st.st_size << " bytes, "
          << entry->data.size() << " expected)\n";
    }
    const DWORD want = entry->attributes == FILE_ATTRIBUTE_NORMAL ? FILE_ATTRIBUTE_ARCHIVE
                                                                  : entry->attributes;
    const DWORD have = GetFileAttributesA((drive.Root() + relative).c_str());
    if (have != want) {
      out << "attributes: " << relative << " 0x" << std::hex << have << ", 0x" << want
          << " expected" << std::dec << "\n";
    }
    if (FileTimeTicks(st.st_mtim) != entry->lastWrite) {
      out << "last-write time: " << relative << " " << FileTimeTicks(st.st_mtim) << ", "
          << entry->lastWrite << " expected\n";
    }
  }
  return out.str();
}
