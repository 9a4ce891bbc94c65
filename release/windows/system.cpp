// zarpo-pack's system calls on Windows; see release/system.h. Every path goes to the system as
// UTF-16 through the wide calls, so a folder whose names the ANSI code page cannot spell is
// still read as it is; the attributes and times are the file system's own.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdio.h>

#include "release/system.h"
#include "release/windows/wide.h"

namespace {

// Code page 932, whatever the machine's ANSI code page: the updater's names are spelled in it.
const UINT JapaneseCodePage = 932;

// `bytes` in code page `codePage` as UTF-16; false when MB_ERR_INVALID_CHARS is in `flags` and
// they are not valid there.
bool Widen(UINT codePage, DWORD flags, const std::string& bytes, std::wstring* wide) {
  wide->clear();
  if (bytes.empty()) return true;
  int n = MultiByteToWideChar(codePage, flags, bytes.data(), (int)bytes.size(), nullptr, 0);
  if (n <= 0) return false;
  wide->resize((size_t)n);
  return MultiByteToWideChar(codePage, flags, bytes.data(), (int)bytes.size(), &(*wide)[0], n) == n;
}

// UTF-16 in code page `codePage`; `defaulted` (not for UTF-8) tells whether a character had to
// be replaced by the default one.
bool Narrow(UINT codePage, DWORD flags, const std::wstring& wide, std::string* bytes,
            BOOL* defaulted = nullptr) {
  bytes->clear();
  if (wide.empty()) return true;
  int n = WideCharToMultiByte(codePage, flags, wide.data(), (int)wide.size(), nullptr, 0, nullptr,
                              defaulted);
  if (n <= 0) return false;
  bytes->resize((size_t)n);
  return WideCharToMultiByte(codePage, flags, wide.data(), (int)wide.size(), &(*bytes)[0], n,
                             nullptr, defaulted) == n;
}

std::string Utf8(const std::wstring& wide) {
  std::string utf8;
  Narrow(CP_UTF8, 0, wide, &utf8);
  return utf8;
}

// The system's message for the last error, without its line break.
std::string LastError() {
  DWORD code = GetLastError();
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, (LPWSTR)&text, 0, nullptr);
  std::string message = n ? Utf8(std::wstring(text, n)) : "";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  char code_text[32];
  snprintf(code_text, sizeof code_text, "error %lu", (unsigned long)code);
  return message.empty() ? code_text : message + " (" + code_text + ")";
}

// windows.h defines min and max as macros.
size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

uint64_t Ticks(const FILETIME& time) {
  return (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

// A link or junction is not followed into: its target may lie outside the release.
ItemKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ItemOther;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemFolder : ItemFile;
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  Widen(CP_UTF8, 0, utf8, &wide);
  return wide;
}

std::vector<std::string> ProgramArguments(int, char**) {
  // Text mode would turn every "\n" written into "\r\n"; a manifest is the same bytes as on
  // Linux. A console shows the UTF-8 names as they are.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide && i < count; i++) args.push_back(Utf8(wide[i]));
  if (wide) LocalFree(wide);
  return args;
}

bool Utf8ToCodePage932(const std::string& utf8, std::string* ansi) {
  std::wstring wide, again;
  std::string out;
  // No best fit, and the default character counted as a failure: "é" must not become "e".
  BOOL defaulted = FALSE;
  if (utf8.find('\0') != std::string::npos || !Widen(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &wide) ||
      !Narrow(JapaneseCodePage, WC_NO_BEST_FIT_CHARS, wide, &out, &defaulted) || defaulted) {
    return false;
  }
  // Spelled back, the bytes must give the same characters: no character may stand for another.
  if (!Widen(JapaneseCodePage, MB_ERR_INVALID_CHARS, out, &again) || again != wide) return false;
  *ansi = out;
  return true;
}

bool CodePage932ToUtf8(const std::string& ansi, std::string* utf8) {
  std::wstring wide;
  if (ansi.find('\0') != std::string::npos ||
      !Widen(JapaneseCodePage, MB_ERR_INVALID_CHARS, ansi, &wide)) {
    return false;
  }
  *utf8 = Utf8(wide);
  return true;
}

bool ListFolder(const std::string& folder, std::vector<FolderItem>* items, std::string* error) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileExW(Wide(folder + "\\*").c_str(), FindExInfoBasic, &found,
                                 FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    *error = LastError();
    return false;
  }
  items->clear();
  do {
    std::string name = Utf8(found.cFileName);
    if (name == "." || name == "..") continue;
    FolderItem item{name, KindOf(found.dwFileAttributes), ""};
    if (item.kind == ItemOther) item.why = "a link (reparse point)";
    items->push_back(item);
  } while (FindNextFileW(find, &found));
  bool ok = GetLastError() == ERROR_NO_MORE_FILES;
  if (!ok) *error = LastError();
  FindClose(find);
  return ok;
}

bool ReadFileFacts(const std::string& path, FileFacts* facts, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
    *error = LastError();
    return false;
  }
  facts->kind = KindOf(data.dwFileAttributes);
  // NORMAL means "no other bit"; a file that has none reads back as ARCHIVE once written.
  uint32_t attributes = data.dwFileAttributes & ~(uint32_t)FILE_ATTRIBUTE_NORMAL;
  facts->attributes = attributes ? attributes : FILE_ATTRIBUTE_ARCHIVE;
  facts->lastWrite = Ticks(data.ftLastWriteTime);
  facts->timeKnown = true;
  facts->size = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
  facts->unreadable.clear();
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + LastError();
    return false;
  }
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0xFFFFFFFFll;
  std::string data(ok ? (size_t)size.QuadPart : 0, '\0');
  size_t done = 0;
  while (ok && done < data.size()) {
    DWORD got = 0;
    DWORD want = (DWORD)Smaller(data.size() - done, (size_t)1 << 24);
    ok = ReadFile(file, &data[done], want, &got, nullptr) && got > 0;
    done += got;
  }
  if (!ok) *error = "cannot read " + path + ": " + LastError();
  CloseHandle(file);
  if (ok) *bytes = data;
  return ok;
}

// Writes all of `bytes` to `file`; false at the first failed write.
static bool WriteAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    DWORD want = (DWORD)Smaller(bytes.size() - done, (size_t)1 << 24);
    if (!WriteFile(file, bytes.data() + done, want, &put, nullptr) || put != want) return false;
    done += put;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + path + ": " + LastError();
    return false;
  }
  bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
  if (!ok) *error = "cannot write " + path + ": " + LastError();
  if (!CloseHandle(file) && ok) {
    *error = "cannot write " + path + ": " + LastError();
    ok = false;
  }
  return ok;
}

std::string WriteReleaseFile(const std::string& path, const std::string& bytes, uint32_t attributes,
                             uint64_t lastWrite) {
  std::wstring wide = Wide(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "cannot create " + path + ": " + LastError();
  FILETIME time = {(DWORD)lastWrite, (DWORD)(lastWrite >> 32)};
  // The time last: a write after it would move it on.
  bool ok = WriteAll(file, bytes) && FlushFileBuffers(file) &&
            SetFileTime(file, nullptr, nullptr, &time);
  std::string problem = ok ? "" : "cannot write " + path + ": " + LastError();
  CloseHandle(file);
  if (!problem.empty()) return problem;
  if (!SetFileAttributesW(wide.c_str(), attributes)) {
    return "written, but its attributes could not be kept: " + LastError();
  }
  return "";
}

bool MakeFolder(const std::string& path) {
  std::wstring wide = Wide(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && KindOf(attributes) == ItemFolder;
}

bool ReplaceFileWith(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *error = "cannot rename " + from + " to " + to + ": " + LastError();
  return false;
}

void RemoveFile(const std::string& path) { DeleteFileW(Wide(path).c_str()); }

unsigned long ProcessNumber() { return GetCurrentProcessId(); }
