// The throw-away drive of scratch_drive.h: temp folders, a drive table and the variable that
// points the POSIX layer at it.
#include "support/scratch_drive.h"

#include <ctype.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/host.h"

namespace fs = std::filesystem;

namespace {

// In TMPDIR; a drive's own folder in ZARPO_TEST_DRIVES when that is set, so that the drive can
// lie on a file system that holds no links for the table (a FAT stick).
std::string MakeTempFolder(const char* stem, const char* variable = "TMPDIR") {
  const char* base = getenv(variable);
  if (base == nullptr || *base == '\0') base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + stem +
                        "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  return buffer.data();
}

std::string LinkName(char letter) {
  return std::string(1, static_cast<char>(tolower(static_cast<unsigned char>(letter)))) + ":";
}

// Files the layer made read-only lose their write bits; give everything back to its owner so
// that removal works without root.
void RemoveTree(const std::string& root) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(root, error))) return;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(root, error);
}

}  // namespace

std::string Ansi(const std::string& utf8) {
  char out[1024];
  if (!HostUtf8ToAnsi(utf8.c_str(), out, sizeof out)) {
    throw std::runtime_error("no code page 932 form: " + utf8);
  }
  return out;
}

ScratchDrive::ScratchDrive(char letter, const std::string& type, bool medium) : letter_(letter) {
  const char* previous = getenv("ZARPO_DOSDEVICES");
  hadVariable_ = previous != nullptr;
  if (hadVariable_) savedVariable_ = previous;
  table_ = MakeTempFolder("zarpo-dosdevices");
  setenv("ZARPO_DOSDEVICES", table_.c_str(), 1);
  AddDrive(letter, type, medium);
}

ScratchDrive::~ScratchDrive() {
  for (const Mapping& drive : drives_) RemoveTree(drive.folder);
  RemoveTree(table_);
  if (hadVariable_) {
    setenv("ZARPO_DOSDEVICES", savedVariable_.c_str(), 1);
  } else {
    unsetenv("ZARPO_DOSDEVICES");
  }
}

void ScratchDrive::AddDrive(char letter, const std::string& type, bool medium) {
  drives_.push_back({letter, type, MakeTempFolder("zarpo-drive", "ZARPO_TEST_DRIVES")});
  WriteTable();
  SetMedium(letter, medium);
}

void ScratchDrive::SetMedium(char letter, bool present) {
  fs::path link = fs::path(table_) / LinkName(letter);
  std::error_code error;
  fs::remove(link, error);
  if (present) fs::create_directory_symlink(HostRootOf(letter), link);
}

void ScratchDrive::WriteTable() const {
  std::ofstream types(table_ + "/drive-types", std::ios::trunc);
  for (const Mapping& drive : drives_) {
    if (!drive.type.empty()) types << LinkName(drive.letter) << ' ' << drive.type << '\n';
  }
}

std::string ScratchDrive::Root() const { return std::string(1, letter_) + ":\\"; }

const std::string& ScratchDrive::HostRootOf(char letter) const {
  for (const Mapping& drive : drives_) {
    if (tolower(static_cast<unsigned char>(drive.letter)) ==
        tolower(static_cast<unsigned char>(letter))) {
      return drive.folder;
    }
  }
  throw std::logic_error("no such scratch drive letter");
}

std::string ScratchDrive::HostPath(const std::string& relative) const {
  char utf8[4096];
  if (!HostAnsiToUtf8(relative.c_str(), utf8, sizeof utf8)) {
    throw std::runtime_error("not code page 932 text: " + relative);
  }
  // After conversion a 0x5C trail byte is inside its UTF-8 character, so every '\' left is a
  // separator.
  std::string path(utf8);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.empty() ? HostRoot() : HostRoot() + "/" + path;
}

void ScratchDrive::MakeFolder(const std::string& relative) const {
  fs::create_directories(HostPath(relative));
}

void ScratchDrive::WriteHostFile(const std::string& relative, const std::string& contents) const {
  std::ofstream file(HostPath(relative), std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + HostPath(relative));
  file << contents;
}

std::string ScratchDrive::ReadHostFile(const std::string& relative) const {
  std::ifstream file(HostPath(relative), std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + HostPath(relative));
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

bool ScratchDrive::Exists(const std::string& relative) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(HostPath(relative), error));
}

std::vector<std::string> ScratchDrive::Listing() const {
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(HostRoot())) {
    names.push_back(fs::relative(item.path(), HostRoot()).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
