// The POSIX layer's short cuts on the way to the host, held to the answers of the long way: the
// drive's medium looked at only when a host call fails, the root named through the table's
// link, names copied instead of converted when the code page allows it, and handles checked
// only when the host has refused them.
#include <errno.h>
#include <iconv.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "host/codepage.h"
#include "platform/posix/hostpath.h"
#include "scratch_host.h"
#include "support.h"

namespace {

// The converter's own answer, to hold the copied fast paths to.
std::string Iconv(const char* to, const char* from, const std::string& text) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return "<no converter>";
  std::string out(text.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* o = &out[0];
  size_t outLeft = out.size();
  size_t done = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (done == (size_t)-1) return "<invalid>";
  out.resize(out.size() - outLeft);
  return out;
}

struct PathCall {
  const char* name;
  bool (*call)(const std::string& path);  // true when the call succeeded
};

const PathCall pathCalls[] = {
    {"GetFileAttributesA",
     [](const std::string& p) { return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES; }},
    {"SetFileAttributesA",
     [](const std::string& p) {
       return SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
     }},
    {"DeleteFileA", [](const std::string& p) { return DeleteFileA(p.c_str()) != 0; }},
    {"CreateDirectoryA",
     [](const std::string& p) { return CreateDirectoryA(p.c_str(), nullptr) != 0; }},
    {"RemoveDirectoryA", [](const std::string& p) { return RemoveDirectoryA(p.c_str()) != 0; }},
    {"FindFirstFileA",
     [](const std::string& p) {
       WIN32_FIND_DATAA data;
       HANDLE find = FindFirstFileA(p.c_str(), &data);
       if (find != INVALID_HANDLE_VALUE) FindClose(find);
       return find != INVALID_HANDLE_VALUE;
     }},
    {"CreateFileA OPEN_EXISTING",
     [](const std::string& p) {
       HANDLE h = CreateFileA(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
       if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
       return h != INVALID_HANDLE_VALUE;
     }},
    {"CreateFileA CREATE_NEW",
     [](const std::string& p) {
       HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
       if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
       return h != INVALID_HANDLE_VALUE;
     }},
    {"CreateFileA OPEN_ALWAYS",
     [](const std::string& p) {
       HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
       if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
       return h != INVALID_HANDLE_VALUE;
     }},
};

}  // namespace

// Without a medium every path call answers with the drive's error, whatever level it names,
// though only a refused host call makes the layer look at the drive.
TEST(PosixLookup, EveryPathCallReportsAMissingMedium) {
  std::string host = ScratchHostRoot();
  mkdir((host + "disk").c_str(), 0755);
  mkdir((host + "disk/sub").c_str(), 0755);
  std::ofstream(host + "plain") << "not a folder";
  TestDriveTable table;
  table.Types("f: removable\nh: removable\nq: cdrom\nk: fixed\n");
  table.Link('h', host + "gone");  // a removable drive whose link leads nowhere
  table.Link('k', host + "gone");  // the same for a fixed drive
  table.Link('o', host + "plain");
  struct Case {
    char letter;
    DWORD error;
  };
  const Case cases[] = {
      {'F', ERROR_NOT_READY},       // a line, no link
      {'H', ERROR_NOT_READY},       // a dangling link
      {'Q', ERROR_NOT_READY},       // a CD drive without a disc
      {'K', ERROR_PATH_NOT_FOUND},  // a fixed drive leading nowhere
      {'O', ERROR_PATH_NOT_FOUND},  // a link to a file: a fixed drive without a folder
      {'I', ERROR_PATH_NOT_FOUND},  // no drive at all
  };
  const char* levels[] = {"", "x.txt", "sub\\x.txt", "sub\\..\\..", "a\\b\\c\\"};
  for (const Case& c : cases) {
    for (const char* level : levels) {
      for (const PathCall& call : pathCalls) {
        std::string path = std::string(1, c.letter) + ":\\" + level;
        SCOPED_TRACE(path + " " + call.name);
        SetLastError(0);
        EXPECT_FALSE(call.call(path));
        // FindFirstFileA answers a final separator before it looks at the drive, as on Windows.
        bool separator = path.back() == '\\' && path.size() > 3;
        if (std::string(call.name) == "FindFirstFileA" && (separator || !*level)) continue;
        EXPECT_EQ(GetLastError(), c.error);
      }
    }
  }
  // Putting the medium in takes effect at the next call, and so does taking it out.
  table.Link('f', host + "disk");
  EXPECT_EQ(GetFileAttributesA("F:\\sub"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  MakeFile("F:\\sub\\x.txt");
  table.Unlink('f');
  EXPECT_EQ(GetFileAttributesA("F:\\sub\\x.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
  EXPECT_FALSE(DeleteFileA("F:\\sub\\x.txt"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
  table.Link('f', host + "other");  // another medium, this time one that is not there yet
  EXPECT_FALSE(CreateDirectoryA("F:\\sub", nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
  EXPECT_EQ(access((host + "disk/sub/x.txt").c_str(), F_OK), 0);
}

// The root is named through the table's link; nothing done to "X:\" may reach the link itself.
TEST(PosixLookup, TheRootIsTheFolderNeverTheLink) {
  std::string host = ScratchHostRoot();
  mkdir((host + "disk").c_str(), 0755);
  TestDriveTable table;
  table.Types("r: removable\n");
  table.Link('r', "../disk");  // relative: from the table folder
  const std::string roots[] = {"R:\\", "R:", "R:\\.", "R:\\a\\..\\.."};
  for (const std::string& root : roots) {
    SCOPED_TRACE(root);
    EXPECT_EQ(GetFileAttributesA(root.c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(DeleteFileA(root.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(RemoveDirectoryA(root.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    HANDLE file = CreateFileA(root.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    struct stat st;
    EXPECT_EQ(lstat(table.Entry('r').c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
  }
  // Attributes of the root go to the folder.
  ASSERT_TRUE(SetFileAttributesA("R:\\", FILE_ATTRIBUTE_HIDDEN));
  char text[16] = {};
  EXPECT_GT(getxattr((host + "disk").c_str(), "user.DOSATTRIB", text, sizeof text - 1), 0);
  EXPECT_STREQ(text, "0x2");
  EXPECT_EQ(GetFileAttributesA("R:\\"), (DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));

  // Files go where the link leads, and the mapping names that folder by the link's target.
  MakeFile("R:\\a.txt", "abc");
  EXPECT_EQ(access((host + "disk/a.txt").c_str(), F_OK), 0);
  char mapped[PATH_MAX];
  ASSERT_TRUE(PosixHostPath("R:\\a.txt", mapped, sizeof mapped));
  EXPECT_EQ(std::string(mapped), host + "table/../disk/a.txt");
  table.Link('r', host + "disk/");  // a final slash in the target changes nothing
  ASSERT_TRUE(PosixHostPath("R:\\a.txt", mapped, sizeof mapped));
  EXPECT_EQ(std::string(mapped), host + "disk/a.txt");
  EXPECT_EQ(ReadWhole("R:\\a.txt"), "abc");

  // A plain folder in the table serves as the drive's root.
  mkdir(table.Entry('p').c_str(), 0755);
  MakeFile("P:\\b.txt", "b");
  EXPECT_EQ(access((table.Entry('p') + "/b.txt").c_str(), F_OK), 0);
  EXPECT_EQ(GetDriveTypeA("P:\\"), (UINT)DRIVE_FIXED);
  EXPECT_FALSE(DeleteFileA("P:\\"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

// The root a file call reached stays open between calls; each change of what the table's link
// leads to shows at the very next call, and a search's handle never holds the kept root.
TEST(PosixLookup, EachChangeOfTheRootShowsAtTheNextCall) {
  std::string host = ScratchHostRoot();
  TestDriveTable table;
  table.Types("s: removable\n");
  auto folder = [&](const std::string& name, const std::string& content) {
    mkdir((host + name).c_str(), 0755);
    std::ofstream(host + name + "/f.txt") << content;
  };
  folder("one", "1");
  folder("two", "22");
  table.Link('s', host + "one");
  struct Case {
    const char* title;
    std::function<void()> change;
    DWORD size;  // of S:\f.txt; 0: the call fails with `error`
    DWORD error;
  } cases[] = {
      {"as kept", [] {}, 1, 0},
      {"link to another folder", [&] { table.Link('s', host + "two"); }, 2, 0},
      {"link removed", [&] { table.Unlink('s'); }, 0, ERROR_NOT_READY},
      {"link back", [&] { table.Link('s', host + "two"); }, 2, 0},
      {"folder replaced",
       [&] {
         std::filesystem::remove_all(host + "two");
         folder("two", "333");
       },
       3, 0},
      {"folder gone", [&] { std::filesystem::remove_all(host + "two"); }, 0, ERROR_NOT_READY},
      {"folder there again", [&] { folder("two", "4444"); }, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    c.change();
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA("S:\\f.txt", &found);
    if (c.size == 0) {
      EXPECT_EQ(find, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found.nFileSizeLow, c.size);
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(GetFileAttributesA("S:\\"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  }
}

// Copied ASCII is what the converter gives, both ways, 0x5C and 0x7E included; and a name found
// is what converting the host's name back gives, whether copied from the path or converted.
TEST(PosixLookup, CopiedTextMatchesTheConverter) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += (char)c;
  char out[512];
  ASSERT_TRUE(HostAnsiToUtf8(ascii.c_str(), out, sizeof out));
  EXPECT_EQ(std::string(out), Iconv("UTF-8", "CP932", ascii));
  ASSERT_TRUE(HostUtf8ToAnsi(ascii.c_str(), out, sizeof out));
  EXPECT_EQ(std::string(out), Iconv("CP932", "UTF-8", ascii));
  char small[4];
  EXPECT_FALSE(HostAnsiToUtf8("abcd", small, sizeof small));  // the NUL does not fit
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(HostAnsiToUtf8("abc", small, sizeof small));

  // Every character HostAnsiRoundTrips lets through comes back unchanged from the converter.
  int checked = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      std::string code = {(char)lead, (char)trail};
      if (!HostAnsiRoundTrips(code.data(), code.size())) continue;
      std::string utf8 = Iconv("UTF-8", "CP932", code);
      if (utf8[0] == '<') continue;  // no character has this code
      ++checked;
      ASSERT_EQ(Iconv("CP932", "UTF-8", utf8), code) << std::hex << lead << " " << trail;
    }
  }
  EXPECT_GT(checked, 7000);  // the JIS rows: kana, symbols and the kanji of both levels
  for (int kana = 0xA1; kana <= 0xDF; ++kana) {
    std::string code(1, (char)kana);
    EXPECT_TRUE(HostAnsiRoundTrips(code.data(), 1));
    EXPECT_EQ(Iconv("CP932", "UTF-8", Iconv("UTF-8", "CP932", code)), code);
  }

  // The extension rows repeat characters, so the name found may be spelled otherwise than asked.
  struct Case {
    std::string name;   // as created and as asked for
    std::string found;  // cFileName
  };
  const Case cases[] = {
      {"plain.txt", "plain.txt"},
      {"\x95\x5C\x8E\x86.txt", "\x95\x5C\x8E\x86.txt"},  // 表紙: 0x5C as a trail byte
      {"\xB6\xC5.txt", "\xB6\xC5.txt"},                  // half-width katakana
      {"\x87\x90.txt", "\x81\xE0.txt"},                  // NEC row 13: ≒ has its JIS code
      {"\xED\x40.txt", "\xFA\x5C.txt"},                  // NEC-selected IBM: the IBM code
      {"\xFA\x40.txt", "\xFA\x40.txt"},                  // small roman one: IBM's own
  };
  ASSERT_TRUE(CreateDirectoryA(Scratch("sub").c_str(), nullptr));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.found);
    MakeFile(Scratch(c.name));
    const std::string asked[] = {c.name, "sub\\..\\" + c.name, ".\\" + c.name};
    for (const std::string& path : asked) {
      WIN32_FIND_DATAA data;
      HANDLE find = FindFirstFileA(Scratch(path).c_str(), &data);
      ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
      FindClose(find);
      EXPECT_EQ(std::string(data.cFileName), c.found);
    }
  }
  // A last level of "." or ".." names the folder it leads to.
  WIN32_FIND_DATAA data;
  std::string up = Scratch("sub\\..\\sub\\.");
  HANDLE find = FindFirstFileA(up.c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_STREQ(data.cFileName, "sub");
  find = FindFirstFileA(Scratch("sub\\x\\..").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_STREQ(data.cFileName, "sub");
}

// The built-in tables convert as the C library's converter does, code by code: every byte,
// every lead and trail pair, every code point of the Basic Multilingual Plane, and the UTF-8
// forms the converter refuses.
TEST(PosixLookup, TablesConvertAsTheConverterDoes) {
  struct Reference {
    iconv_t cd;
    std::string operator()(const std::string& text) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char out[16];
      char* in = const_cast<char*>(text.data());
      size_t inLeft = text.size();
      char* o = out;
      size_t outLeft = sizeof out;
      if (iconv(cd, &in, &inLeft, &o, &outLeft) == (size_t)-1) return "<invalid>";
      return std::string(out, sizeof out - outLeft);
    }
  };
  Reference toUtf8{iconv_open("UTF-8", "CP932")}, toAnsi{iconv_open("CP932", "UTF-8")};
  ASSERT_NE(toUtf8.cd, (iconv_t)-1);
  ASSERT_NE(toAnsi.cd, (iconv_t)-1);
  auto ours = [](int (*convert)(const char*, char*, size_t), const std::string& text) {
    char out[16];
    return convert(text.c_str(), out, sizeof out) ? std::string(out) : std::string("<invalid>");
  };
  int differences = 0;
  auto compare = [&](Reference& reference, int (*convert)(const char*, char*, size_t),
                     const std::string& text) {
    std::string want = reference(text), got = ours(convert, text);
    if (want != got && ++differences <= 10) {
      std::string hex;
      for (unsigned char c : text) {
        hex += "0123456789ABCDEF"[c >> 4];
        hex += "0123456789ABCDEF"[c & 15];
      }
      ADD_FAILURE() << hex << ": converter " << want << ", tables " << got;
    }
  };
  for (int lead = 1; lead < 0x100; ++lead) {
    compare(toUtf8, HostAnsiToUtf8, std::string(1, (char)lead));
    if (lead >= 0x80)
      for (int trail = 1; trail < 0x100; ++trail)
        compare(toUtf8, HostAnsiToUtf8, std::string{(char)lead, (char)trail});
  }
  for (unsigned code = 1; code < 0x10000; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    const char last = (char)(0x80 | (code & 0x3F));
    std::string utf8 = code < 0x80    ? std::string(1, (char)code)
                       : code < 0x800 ? std::string{(char)(0xC0 | code >> 6), last}
                                      : std::string{(char)(0xE0 | code >> 12),
                                                    (char)(0x80 | ((code >> 6) & 0x3F)), last};
    compare(toAnsi, HostUtf8ToAnsi, utf8);
  }
  const char* refused[] = {"\x80",
                           "\xC0\x80",
                           "\xC1\xBF",
                           "\xE0\x80\x80",
                           "\xED\xA0\x80",
                           "\xE3\x81",
                           "\xF0\x9F\x98\x80",
                           "\xF4\x90\x80\x80",
                           "\xF8\x88\x80\x80\x80",
                           "\xE3\x81\x82\xFF",
                           "a\xE3"};
  for (const char* text : refused) compare(toAnsi, HostUtf8ToAnsi, text);
  EXPECT_EQ(differences, 0);
  iconv_close(toUtf8.cd);
  iconv_close(toAnsi.cd);

  // What does not fit is refused, the NUL counted, a double-byte character never cut in two.
  char out[3];
  EXPECT_FALSE(HostUtf8ToAnsi("a\xE3\x81\x82", out, sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_TRUE(HostUtf8ToAnsi("\xE3\x81\x82", out, sizeof out));
  EXPECT_STREQ(out, "\x82\xA0");
  EXPECT_FALSE(HostAnsiToUtf8("\x82\xA0", out, sizeof out));
}

// Transfers learn from the host's refusal what was wrong with the handle; the answers are the
// ones a look beforehand gives.
TEST(PosixLookup, HandleErrorsOfTransfers) {
  std::string path = Scratch("h.bin");
  MakeFile(path, "0123");
  HANDLE reading = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE writing = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE closed = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reading, INVALID_HANDLE_VALUE);
  ASSERT_NE(writing, INVALID_HANDLE_VALUE);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(closed));
  char buffer[4];
  // The layer never looks inside an OVERLAPPED; any pointer asks for what it refuses.
  alignas(8) char storage[64] = {};
  LPOVERLAPPED overlapped = reinterpret_cast<LPOVERLAPPED>(storage);
  struct Case {
    const char* what;
    bool write;
    HANDLE handle;
    DWORD count;
    LPOVERLAPPED overlapped;
    DWORD error;  // 0: succeeds
  };
  const Case cases[] = {
      {"write, read-only", true, reading, 4, nullptr, ERROR_ACCESS_DENIED},
      {"write nothing, read-only", true, reading, 0, nullptr, ERROR_ACCESS_DENIED},
      {"write, closed", true, closed, 4, nullptr, ERROR_INVALID_HANDLE},
      {"write nothing, closed", true, closed, 0, nullptr, ERROR_INVALID_HANDLE},
      {"write overlapped, closed", true, closed, 4, overlapped, ERROR_INVALID_HANDLE},
      {"write overlapped", true, writing, 4, overlapped, ERROR_INVALID_PARAMETER},
      {"write nothing", true, writing, 0, nullptr, 0},
      {"read, write-only", false, writing, 4, nullptr, ERROR_ACCESS_DENIED},
      {"read nothing, write-only", false, writing, 0, nullptr, ERROR_ACCESS_DENIED},
      {"read, closed", false, closed, 4, nullptr, ERROR_INVALID_HANDLE},
      {"read overlapped, closed", false, closed, 4, overlapped, ERROR_INVALID_HANDLE},
      {"read overlapped", false, reading, 4, overlapped, ERROR_INVALID_PARAMETER},
      {"read", false, reading, 4, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DWORD moved = 99;
    SetLastError(0);
    BOOL ok = c.write ? WriteFile(c.handle, "abcd", c.count, &moved, c.overlapped)
                      : ReadFile(c.handle, buffer, c.count, &moved, c.overlapped);
    EXPECT_EQ(ok != 0, c.error == 0);
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(moved, c.error ? 0u : c.count);
  }
  EXPECT_TRUE(CloseHandle(reading));
  EXPECT_TRUE(CloseHandle(writing));
  EXPECT_EQ(ReadWhole(path), "0123");
}
