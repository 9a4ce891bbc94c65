// make-release: a release folder made through the wide Win32 calls, as a release engineer's
// Windows machine makes one, for the tests that pack it on both sides.
//
//   make-release ROOT DESCRIPTION
//
// DESCRIPTION is UTF-8 text, one file a line, four fields separated by tabs:
//
//   ATTRIBUTES  LASTWRITE  NAME  CONTENTS
//
// ATTRIBUTES in hex (0x27), LASTWRITE the FILETIME in decimal, NAME below ROOT with backslashes
// between levels (any Unicode), CONTENTS the path of a file whose bytes the new file gets. The
// folders along NAME are made as needed; the file must not exist yet. Its time is set on the
// open handle, its attributes once it is closed (a read-only file could not be written to).
// Exit code 0 when every file is made; otherwise 1, the line and the failed call on stderr.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

// The whole file; false when it cannot be read.
static bool ReadWhole(const std::wstring& path, std::string* data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0, size = GetFileSize(file, &high);
  bool ok = size != INVALID_FILE_SIZE && high == 0;
  if (ok) {
    data->resize(size);
    DWORD got = 0;
    ok = size == 0 || (ReadFile(file, &(*data)[0], size, &got, nullptr) && got == size);
  }
  CloseHandle(file);
  return ok;
}

static std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), (int)utf8.size(), nullptr,
                              0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), (int)utf8.size(), &wide[0], n);
  }
  return wide;
}

static std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t start = 0, at;
  while ((at = line.find(separator, start)) != std::string::npos) {
    fields.push_back(line.substr(start, at - start));
    start = at + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

static int Fail(int line, const char* what) {
  fprintf(stderr, "make-release: line %d: %s failed (error %lu)\n", line, what, GetLastError());
  return 1;
}

// One file of the description.
static int MakeFile(int number, const std::wstring& root, const std::string& line) {
  std::vector<std::string> fields = Split(line, '\t');
  if (fields.size() != 4) {
    fprintf(stderr, "make-release: line %d: wanted 4 fields, found %zu\n", number, fields.size());
    return 1;
  }
  DWORD attributes = strtoul(fields[0].c_str(), nullptr, 16);
  ULONGLONG lastWrite = strtoull(fields[1].c_str(), nullptr, 10);
  std::wstring name = Wide(fields[2]);
  std::string data;
  if (name.empty()) {
    fprintf(stderr, "make-release: line %d: no name, or not UTF-8\n", number);
    return 1;
  }
  if (!ReadWhole(Wide(fields[3]), &data)) return Fail(number, "reading CONTENTS");

  for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1)) {
    std::wstring folder = root + L"\\" + name.substr(0, at);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return Fail(number, "CreateDirectoryW");
    }
  }
  std::wstring path = root + L"\\" + name;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(number, "CreateFileW");
  DWORD written = 0;
  FILETIME time = {(DWORD)lastWrite, (DWORD)(lastWrite >> 32)};
  bool ok = data.empty() || (WriteFile(file, data.data(), (DWORD)data.size(), &written, nullptr) &&
                             written == data.size());
  if (!ok) {
    CloseHandle(file);
    return Fail(number, "WriteFile");
  }
  if (!SetFileTime(file, nullptr, nullptr, &time)) {
    CloseHandle(file);
    return Fail(number, "SetFileTime");
  }
  if (!CloseHandle(file)) return Fail(number, "CloseHandle");
  if (!SetFileAttributesW(path.c_str(), attributes)) return Fail(number, "SetFileAttributesW");
  return 0;
}

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 3) {
    fprintf(stderr, "usage: make-release ROOT DESCRIPTION\n");
    return 1;
  }
  std::wstring root = argv[1];
  std::string description;
  if (!ReadWhole(argv[2], &description)) return Fail(0, "reading DESCRIPTION");
  if (!CreateDirectoryW(root.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return Fail(0, "CreateDirectoryW of ROOT");
  }
  int number = 0;
  for (const std::string& line : Split(description, '\n')) {
    number++;
    if (line.empty()) continue;
    if (MakeFile(number, root, line) != 0) return 1;
  }
  return 0;
}
