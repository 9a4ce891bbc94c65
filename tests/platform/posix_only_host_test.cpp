// How the POSIX layer keeps Windows' view on the host: the drive table, the mapping of paths,
// attributes in user.DOSATTRIB and the mode, names in UTF-8, handles as descriptors.
#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/posix/hostpath.h"
#include "scratch_host.h"
#include "support.h"
#include "support/host_files.h"

namespace {

std::string StoredText(const std::string& hostPath) {
  char text[64];
  ssize_t n = getxattr(hostPath.c_str(), "user.DOSATTRIB", text, sizeof text);
  return n < 0 ? "<none>" : std::string(text, (size_t)n);
}

int OpenDescriptors() { return OpenDescriptorCount(); }

TEST(PosixDriveTable, TypesMediaAndErrors) {
  std::string host = ScratchHostRoot();
  mkdir((host + "disk").c_str(), 0755);
  std::ofstream(host + "plain") << "not a folder";
  TestDriveTable table;
  table.Types(
      "e: removable\n"
      "f: removable\n"
      "h: removable\n"
      "J: CDROM\n"
      "k: remote\n"
      "l: ramdisk\n"
      "# n: removable\n"
      "\n"
      "p: floppy\n"
      "q: cdrom\n");
  table.Link('e', host + "disk");
  table.Link('g', host + "disk");
  table.Link('h', host + "gone");  // dangling
  table.Link('j', host + "disk");
  table.Link('k', host + "disk");
  table.Link('l', host + "disk");
  table.Link('o', host + "plain");  // not a folder
  table.Link('p', host + "disk");
  struct Case {
    char letter;
    UINT type;
    DWORD error;  // of GetVolumeInformationA and file calls; 0 when the drive works
  };
  const Case cases[] = {
      {'E', DRIVE_REMOVABLE, 0},
      {'F', DRIVE_REMOVABLE, ERROR_NOT_READY},  // a line without a link: no medium
      {'G', DRIVE_FIXED, 0},                    // a link without a line: fixed
      {'H', DRIVE_REMOVABLE, ERROR_NOT_READY},
      {'I', DRIVE_NO_ROOT_DIR, ERROR_PATH_NOT_FOUND},
      {'J', DRIVE_CDROM, 0},
      {'K', DRIVE_REMOTE, 0},
      {'L', DRIVE_RAMDISK, 0},
      {'N', DRIVE_NO_ROOT_DIR, ERROR_PATH_NOT_FOUND},  // commented out
      {'O', DRIVE_FIXED, ERROR_PATH_NOT_FOUND},
      {'P', DRIVE_UNKNOWN, 0},
      {'Q', DRIVE_CDROM, ERROR_NOT_READY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letter);
    std::string root = std::string(1, c.letter) + ":\\";
    EXPECT_EQ(GetDriveTypeA(root.c_str()), c.type);
    EXPECT_EQ(
        GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0),
        c.error == 0);
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    std::string file = root + "x.txt";
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.error == 0);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      DeleteFileA(file.c_str());
    } else {
      EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  // The table is read on every call: putting the medium in is making the link.
  table.Link('f', host + "disk");
  EXPECT_TRUE(GetVolumeInformationA("F:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
}

TEST(PosixDriveTable, RootForms) {
  std::string root = std::string(ScratchRoot(), 3);
  std::string letter = root.substr(0, 1);
  struct Case {
    std::string path;
    UINT type;
  };
  const Case cases[] = {
      {letter + ":\\", DRIVE_REMOVABLE},          {letter + ":", DRIVE_REMOVABLE},
      {letter + ":/", DRIVE_REMOVABLE},           {"s:\\", DRIVE_REMOVABLE},
      {letter + ":\\x", DRIVE_NO_ROOT_DIR},       {"", DRIVE_NO_ROOT_DIR},
      {"\\\\server\\share\\", DRIVE_NO_ROOT_DIR},
  };
  for (const Case& c : cases) EXPECT_EQ(GetDriveTypeA(c.path.c_str()), c.type) << c.path;
  EXPECT_EQ(GetDriveTypeA(nullptr), (UINT)DRIVE_NO_ROOT_DIR);
  EXPECT_FALSE(GetVolumeInformationA((letter + ":").c_str(), nullptr, 0, nullptr, nullptr, nullptr,
                                     nullptr, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
  char small[1];
  EXPECT_FALSE(GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, small,
                                     sizeof small));
}

TEST(PosixPaths, MappingOntoTheHost) {
  std::string host = ScratchHostRoot();
  std::string driveRoot = host.substr(0, host.size() - 1);
  driveRoot = driveRoot.substr(0, driveRoot.rfind('/'));  // the folder behind S:
  std::string test = host.substr(driveRoot.size() + 1);
  test.pop_back();  // the test's own folder, as named on S:
  struct Case {
    std::string path;
    bool maps;
    std::string hostOrError;
  };
  const Case cases[] = {
      {"S:\\a\\b", true, driveRoot + "/a/b"},
      {"s:/a/b", true, driveRoot + "/a/b"},
      {"S:\\.\\a\\\\b\\", true, driveRoot + "/a/b/"},
      {"S:\\a\\..\\..\\..\\b", true, driveRoot + "/b"},  // ".." stops at the root
      {"S:\\..", true, driveRoot},
      {"S:\\", true, driveRoot},
      {"S:", true, driveRoot},
      {"S:a", true, driveRoot + "/a"},
      {"S:\\\x95\x5C\\\x8D\x5C.txt", true, driveRoot + "/表/構.txt"},
      {"a\\b", false, "3"},
      {"\\a", false, "3"},
      {"", false, "3"},
      {"\\\\server\\share\\a", false, "53"},
      {"S:\\\x95", false, "123"},  // a lead byte without its trail byte
      {"S:\\\x80", false, "123"},  // no character in code page 932
      {"S:\\" + std::string(5000, 'a'), false, "206"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 40));
    char out[PATH_MAX];
    SetLastError(0);
    int maps = PosixHostPath(c.path.c_str(), out, sizeof out);
    EXPECT_EQ(maps != 0, c.maps);
    if (c.maps) {
      EXPECT_EQ(std::string(out), c.hostOrError);
    } else {
      EXPECT_EQ(std::to_string(GetLastError()), c.hostOrError);
    }
  }
  char tiny[8];
  EXPECT_FALSE(PosixHostPath("S:\\a", tiny, sizeof tiny));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);

  // Through the file calls: ".." cannot leave the drive.
  std::string climbing = std::string(ScratchRoot()) + "..\\..\\..\\..\\" + test + "\\up.txt";
  MakeFile(climbing);
  EXPECT_EQ(access((host + "up.txt").c_str(), F_OK), 0);
}

TEST(PosixAttributes, StoredAsTextAndInTheMode) {
  std::string file = Scratch("file.bin");
  std::string host = ScratchHostRoot() + "file.bin";
  MakeFile(file);
  struct Case {
    DWORD set;
    const char* text;
    bool writable;
  };
  const Case cases[] = {
      {0x27, "0x27", false}, {0x20, "0x20", true},     {0x21, "0x21", false},
      {0x80, "0x80", true},  {0x2026, "0x2026", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), c.set));
    EXPECT_EQ(StoredText(host), c.text);
    struct stat st;
    ASSERT_EQ(stat(host.c_str(), &st), 0);
    EXPECT_EQ((st.st_mode & 0222) != 0, c.writable);
    if (c.writable) {
      EXPECT_EQ(st.st_mode & 0777, 0644u);
    }
  }
  // A folder keeps its attributes in the text only.
  std::string folder = Scratch("sub");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(StoredText(ScratchHostRoot() + "sub"), "0x3");
  struct stat st;
  ASSERT_EQ(stat((ScratchHostRoot() + "sub").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);
}

TEST(PosixAttributes, ReadFromWhatTheHostHas) {
  std::string host = ScratchHostRoot();
  struct Case {
    const char* name;
    bool folder;
    const char* stored;  // nullptr: no extended attribute
    mode_t mode;
    DWORD expected;
  };
  const Case cases[] = {
      {"plain", false, nullptr, 0644, 0x20},
      {"locked", false, nullptr, 0444, 0x21},
      {"hidden", false, "0x6", 0644, 0x06},     // as Wine writes it: no ARCHIVE
      {"chmodded", false, "0x20", 0444, 0x21},  // the mode adds READONLY
      {"upper", false, "0X27", 0444, 0x27},
      {"claims-folder", false, "0x30", 0644, 0x20},   // DIRECTORY comes from the host
      {"binary", false, "\x01\x02\x03", 0644, 0x20},  // a form this layer does not write
      {"normal", false, "0x80", 0644, 0x80},
      {"dir", true, nullptr, 0755, 0x10},
      {"dir-normal", true, "0x80", 0755, 0x10},
      {"dir-hidden", true, "0x2", 0755, 0x12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = host + c.name;
    if (c.folder) {
      ASSERT_EQ(mkdir(path.c_str(), c.mode), 0);
    } else {
      std::ofstream(path) << "x";
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    }
    if (c.stored) {
      ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", c.stored, strlen(c.stored), 0), 0);
    }
    EXPECT_EQ(GetFileAttributesA(Scratch(c.name).c_str()), c.expected);
  }
}

TEST(PosixNames, StoredAsUtf8) {
  ASSERT_TRUE(CreateDirectoryA(Scratch("\x95\x5C").c_str(), nullptr));
  MakeFile(Scratch("\x95\x5C\\\x8D\x5C.txt"), "x");
  struct stat st;
  EXPECT_EQ(stat((ScratchHostRoot() + "表").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(stat((ScratchHostRoot() + "表/構.txt").c_str(), &st), 0);
  // Exactly one entry at the top: the backslash byte of 表 split nothing.
  int entries = 0;
  DIR* dir = opendir(ScratchHostRoot().c_str());
  ASSERT_NE(dir, nullptr);
  while (struct dirent* entry = readdir(dir)) entries += entry->d_name[0] != '.';
  closedir(dir);
  EXPECT_EQ(entries, 1);
}

TEST(PosixHandles, AreDescriptorsAndDoNotLeak) {
  std::string file = Scratch("file.txt");
  MakeFile(file);
  int before = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handle));
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(file.c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(FindClose(find));
    EXPECT_EQ(FindFirstFileA(Scratch("missing").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(Scratch("missing").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE refused = CreateFileA(Scratch("").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    EXPECT_EQ(refused, INVALID_HANDLE_VALUE);
  }
  EXPECT_EQ(OpenDescriptors(), before);

  // A handle left open shows, and the wrong closing call neither closes it nor succeeds.
  HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(file.c_str(), &found);
  EXPECT_EQ(OpenDescriptors(), before + 2);
  EXPECT_FALSE(FindClose(handle));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(find));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenDescriptors(), before + 2);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(CloseHandle(handle));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(PosixWrite, FullDiskReportsWhatWasWritten) {
  std::string host = ScratchHostRoot() + "small";
  ASSERT_EQ(mkdir(host.c_str(), 0755), 0);
  if (mount("tmpfs", host.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << strerror(errno);
  }
  std::string file = Scratch("small\\big.bin");
  HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  std::string data(1 << 20, 'z');
  DWORD written = 12345;
  EXPECT_FALSE(WriteFile(handle, data.data(), (DWORD)data.size(), &written, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_TRUE(CloseHandle(handle));
  struct stat st;
  EXPECT_EQ(stat((host + "/big.bin").c_str(), &st), 0);
  EXPECT_EQ((DWORD)st.st_size, written);
  umount(host.c_str());
}

// Links, FIFOs, sockets and devices below the drive's root are objects of their own: found as
// they are, deleted themselves, refused by every other call at once (a FIFO never blocks), and
// never a way to what a link leads to.
enum ObjectKind { FileLink, FolderLink, DanglingLink, Fifo, Socket, Device };
struct SpecialObject {
  const char* name;
  ObjectKind kind;
};
const SpecialObject SpecialObjects[] = {
    {"file-link", FileLink}, {"folder-link", FolderLink}, {"dangling", DanglingLink},
    {"fifo", Fifo},          {"socket", Socket},          {"device", Device},
};

class PosixObjects : public testing::TestWithParam<SpecialObject> {
 protected:
  void SetUp() override {
    outside = ScratchHostRoot() + "../outside-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((outside + "/dir").c_str(), 0755), 0);
    std::ofstream(outside + "/target.txt") << "outside";
    ASSERT_EQ(stat((outside + "/target.txt").c_str(), &before), 0);
  }
  void TearDown() override {
    if (listener >= 0) close(listener);
    struct stat st;
    ASSERT_EQ(stat((outside + "/target.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, before.st_mode);
    EXPECT_EQ(st.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(st.st_size, 7);
    EXPECT_EQ(StoredText(outside + "/target.txt"), "<none>");
    EXPECT_EQ(rmdir((outside + "/dir").c_str()), 0) << "the folder behind the link is not empty";
    unlink((outside + "/target.txt").c_str());
    rmdir(outside.c_str());
  }

  // Makes the object `name` of its kind below the scratch folder: 1, or 0 with errno set when
  // the host will not make it (devices need privileges).
  int Make(ObjectKind kind, const std::string& name) {
    std::string path = ScratchHostRoot() + name;
    switch (kind) {
      case FileLink:
        return symlink((outside + "/target.txt").c_str(), path.c_str()) == 0;
      case FolderLink:
        return symlink((outside + "/dir").c_str(), path.c_str()) == 0;
      case DanglingLink:
        return symlink((outside + "/none").c_str(), path.c_str()) == 0;
      case Fifo:
        return mkfifo(path.c_str(), 0666) == 0;
      case Socket: {
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
          errno = ENAMETOOLONG;
          return 0;
        }
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        return bind(listener, (struct sockaddr*)&address, sizeof address) == 0;
      }
      case Device:
        return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    }
    return 0;
  }

  std::string outside;
  struct stat before;
  int listener = -1;
};

TEST_P(PosixObjects, LinksAndSpecialFilesAreNeverGoneThrough) {
  const char* name = GetParam().name;
  SCOPED_TRACE(name);
  if (!Make(GetParam().kind, name)) {
    GTEST_SKIP() << "the host made no " << name << " here: " << strerror(errno);
  }
  const DWORD link = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
  const DWORD special = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DEVICE;
  DWORD expected = GetParam().kind <= DanglingLink ? link : special;
  std::string path = Scratch(name);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(path.c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  FindClose(find);
  EXPECT_EQ(found.dwFileAttributes, expected);
  EXPECT_EQ(found.nFileSizeLow, 0u);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), expected);
  for (DWORD disposition : {CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0x20, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  }
  EXPECT_FALSE(SetFileAttributesA(path.c_str(), 0x27));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  // Nothing is reached through it, whatever it leads to.
  std::string inner = path + "\\inner.txt";
  EXPECT_EQ(CreateFileA(inner.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0x20, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CreateDirectoryA(inner.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA(inner.c_str(), &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
  struct stat st;
  EXPECT_NE(lstat((ScratchHostRoot() + name).c_str(), &st), 0);
}

INSTANTIATE_TEST_SUITE_P(Host, PosixObjects, testing::ValuesIn(SpecialObjects));

}  // namespace
