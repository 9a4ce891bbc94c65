// What zarpo-pack asks of the system it runs on: its command line, whole files, the folders
// of a release, a file's attributes and last-write time, and the spelling of names in code
// page 932. Paths and names are UTF-8 throughout; the build picks the implementation:
// release/posix/system.cpp (attributes as Wine and Samba keep them on Linux) or
// release/windows/system.cpp (wide Win32 calls, so that any name a folder holds can be read).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The arguments after the program's name, in UTF-8. On Windows they are read from the wide
// command line (the narrow one loses every character the ANSI code page lacks), and standard
// output and error are set to write bytes as given, so a manifest printed there is the same
// text on every system.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The exact code page 932 spelling of a UTF-8 name: false when the text is not UTF-8 or has a
// character code page 932 lacks (never a best-fit substitute such as "e" for "é", which would
// make the updater write another name).
bool Utf8ToCodePage932(const std::string& utf8, std::string* ansi);
// The UTF-8 of code page 932 bytes: false when they are not a valid spelling.
bool CodePage932ToUtf8(const std::string& ansi, std::string* utf8);

enum ItemKind { ItemFile, ItemFolder, ItemOther };

struct FolderItem {
  std::string name;  // UTF-8, one level
  ItemKind kind;
  std::string why;  // for ItemOther: what it is ("a symbolic link")
};

// The items of `folder`, without "." and "..", in no particular order; false with the reason
// in `error` when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderItem>* items, std::string* error);

struct FileFacts {
  ItemKind kind;
  uint32_t attributes;  // FILE_ATTRIBUTE_* as Windows reports them; never 0 or NORMAL (0x80)
  uint64_t lastWrite;   // FILETIME, UTC
  bool timeKnown;       // false when the host's time lies before 1601, where FILETIMEs begin
  uint64_t size;
  // Why the attributes the file has could not be read ("" when they could); `attributes` then
  // holds what the file would have without them. On Linux: a user.DOSATTRIB of no known form.
  std::string unreadable;
};

// What `path` (followed when it is a link) is; false with the reason in `error`.
bool ReadFileFacts(const std::string& path, FileFacts* facts, std::string* error);

// Whole files: false with the reason in `error`. A written file is flushed to the disk.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error);
// Creates `path`, which must not exist, with `bytes`, then gives it `lastWrite` and
// `attributes` as a file on a key disk has them. "" or the problem; "written, but ..." when
// only the attributes could not be kept.
std::string WriteReleaseFile(const std::string& path, const std::string& bytes, uint32_t attributes,
                             uint64_t lastWrite);

// A folder made when missing; false when it cannot be, or `path` is something else.
bool MakeFolder(const std::string& path);
// Renames `from` onto `to`, replacing it; false with the reason in `error`.
bool ReplaceFileWith(const std::string& from, const std::string& to, std::string* error);
void RemoveFile(const std::string& path);
// A number that tells this run's temporary files from another run's.
unsigned long ProcessNumber();
