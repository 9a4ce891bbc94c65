// zarpo-pack's system calls on Linux; see release/system.h. A release folder copied from
// Windows keeps the read-only bit in the mode and the others, where the copy kept them, in the
// extended attribute user.DOSATTRIB (as Wine, Samba and this tool's extract write it).
#include "release/system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host/host.h"
#include "release/dos_attrib.h"
#include "release/manifest.h"

namespace {

const uint64_t TicksPerSecond = 10000000;
const int64_t EpochDifference = 11644473600LL;  // seconds from 1601 to 1970

// The attributes the file has: user.DOSATTRIB where it holds them, else ARCHIVE; READONLY
// added when the mode has no write bit. Returns "" or why the extended attribute is there but
// cannot be read; the attributes are then taken as if it were not there.
std::string AttributesOf(const std::string& path, const struct stat& st, uint32_t* attributes) {
  uint32_t value = 0x20;
  std::string problem;
  unsigned char bytes[LongestDosAttrib];
  ssize_t n = getxattr(path.c_str(), "user.DOSATTRIB", bytes, sizeof bytes);
  if (n >= 0) {
    uint32_t decoded = 0;
    if (DecodeDosAttrib(bytes, (size_t)n, &decoded, &problem)) value = decoded;
  } else if (errno == ERANGE) {
    problem = "user.DOSATTRIB is longer than " + std::to_string(sizeof bytes) +
              " bytes, which no form of it is";
  } else if (errno != ENODATA && errno != ENOTSUP) {
    // ENODATA: the file has none; ENOTSUP: the file system keeps no extended attributes.
    problem = std::string("user.DOSATTRIB cannot be read: ") + strerror(errno);
  }
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) value |= 0x01;
  // NORMAL means "no other bit"; a file that has none reads back as ARCHIVE once written.
  value &= ~0x80u;
  *attributes = value ? value : 0x20;
  return problem;
}

ItemKind KindOf(mode_t mode) {
  return S_ISREG(mode) ? ItemFile : S_ISDIR(mode) ? ItemFolder : ItemOther;
}

// `text` through one of the host's code page converters, given `growth` times its length.
bool Convert(int (*convert)(const char*, char*, size_t), const std::string& text, size_t growth,
             std::string* out) {
  if (text.find('\0') != std::string::npos) return false;
  std::string converted(text.size() * growth + 1, '\0');
  if (!convert(text.c_str(), &converted[0], converted.size())) return false;
  converted.resize(converted.find('\0'));
  *out = converted;
  return true;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool Utf8ToCodePage932(const std::string& utf8, std::string* ansi) {
  return Convert(HostUtf8ToAnsi, utf8, 2, ansi);
}

bool CodePage932ToUtf8(const std::string& ansi, std::string* utf8) {
  return Convert(HostAnsiToUtf8, ansi, 3, utf8);
}

bool ListFolder(const std::string& folder, std::vector<FolderItem>* items, std::string* error) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *error = strerror(errno);
    return false;
  }
  items->clear();
  while (struct dirent* d = readdir(dir)) {
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    FolderItem item{name, ItemOther, ""};
    if (lstat((folder + "/" + name).c_str(), &st) != 0) {
      item.why = strerror(errno);
    } else {
      item.kind = KindOf(st.st_mode);
      if (item.kind == ItemOther) {
        item.why = S_ISLNK(st.st_mode) ? "a symbolic link" : "not a regular file";
      }
    }
    items->push_back(item);
  }
  closedir(dir);
  return true;
}

bool ReadFileFacts(const std::string& path, FileFacts* facts, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = strerror(errno);
    return false;
  }
  facts->kind = KindOf(st.st_mode);
  facts->size = (uint64_t)st.st_size;
  facts->unreadable = AttributesOf(path, st, &facts->attributes);
  facts->lastWrite = 0;
  facts->timeKnown = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, &facts->lastWrite);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  *bytes = text.str();
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = fflush(out) == 0 && ok;
  ok = fsync(fileno(out)) == 0 && ok;
  if (fclose(out) != 0) ok = false;
  if (!ok) *error = "cannot write " + path + ": " + strerror(errno);
  return ok;
}

std::string WriteReleaseFile(const std::string& path, const std::string& bytes, uint32_t attributes,
                             uint64_t lastWrite) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot create " + path + ": " + strerror(errno);
  bool ok = write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
  int64_t seconds = (int64_t)(lastWrite / TicksPerSecond) - EpochDifference;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = (time_t)seconds;
  times[1].tv_nsec = (long)(lastWrite % TicksPerSecond) * 100;
  ok = ok && futimens(fd, times) == 0;
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", attributes);
  bool stored = fsetxattr(fd, "user.DOSATTRIB", text, (size_t)n, 0) == 0;
  int storeError = errno;
  if (ok && (attributes & 0x01)) ok = fchmod(fd, 0444) == 0;
  if (close(fd) != 0) ok = false;
  if (!ok) return "cannot write " + path + ": " + strerror(errno);
  if (!stored) {
    return "written, but its attributes could not be kept: " + std::string(strerror(storeError));
  }
  return "";
}

bool MakeFolder(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return mkdir(path.c_str(), 0755) == 0;
}

bool ReplaceFileWith(const std::string& from, const std::string& to, std::string* error) {
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  *error = "cannot rename " + from + " to " + to + ": " + strerror(errno);
  return false;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

unsigned long ProcessNumber() { return (unsigned long)getpid(); }
