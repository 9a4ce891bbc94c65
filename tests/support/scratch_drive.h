// A throw-away drive for tests over the POSIX layer.
//
// The layer maps drive letters to host folders through a drive table: the folder named by the
// environment variable ZARPO_DOSDEVICES holds a symlink per letter ("e:" -> host folder) and an
// optional file "drive-types" with lines such as "e: removable" (removable, fixed, remote,
// cdrom, ramdisk; a letter with a link but no line is fixed). A removable letter without a
// link is a drive without a medium.
//
// A ScratchDrive makes a fresh, empty host folder and a fresh drive table mapping one letter to
// it, points ZARPO_DOSDEVICES at that table, and on destruction removes both and puts the
// variable back as it was. Only one should be alive at a time (the table is process-wide);
// more letters can be added to the same table with AddDrive.
//
//   ScratchDrive drive;                            // E: removable, medium inserted
//   std::string target = drive.Root() + "Zarpo\\"; // "E:\Zarpo\" for the code under test
//   drive.MakeFolder("Zarpo");                     // host-side set-up and checks
//   std::string host = drive.HostPath("Zarpo\\a.txt");
#pragma once

#include <string>
#include <vector>

class ScratchDrive {
 public:
  explicit ScratchDrive(char letter = 'E', const std::string& type = "removable",
                        bool medium = true);
  ~ScratchDrive();
  ScratchDrive(const ScratchDrive&) = delete;
  ScratchDrive& operator=(const ScratchDrive&) = delete;

  // Another letter in the same table, mapped to a fresh folder of its own (or to none, when
  // without a medium). Its host folder is HostRootOf(letter).
  void AddDrive(char letter, const std::string& type, bool medium = true);

  // Puts the medium in (links the letter to its folder again) or takes it out (drops the link;
  // the folder and its contents stay for later checks).
  void SetMedium(char letter, bool present);

  char Letter() const { return letter_; }
  // "E:\" for the first drive.
  std::string Root() const;
  // The host folder behind the first drive, without a trailing slash.
  const std::string& HostRoot() const { return HostRootOf(letter_); }
  const std::string& HostRootOf(char letter) const;
  const std::string& Table() const { return table_; }

  // The host path (UTF-8, '/' between levels) of a path relative to the first drive's root,
  // given as the program would spell it: code page 932 with '\' or '/' between levels.
  std::string HostPath(const std::string& relative) const;

  // Host-side helpers for setting up and checking, all relative to the first drive's root in
  // code page 932 like HostPath. Attributes are the layer's business: set and read them
  // through SetFileAttributesA/GetFileAttributesA.
  void MakeFolder(const std::string& relative) const;
  void WriteHostFile(const std::string& relative, const std::string& contents) const;
  std::string ReadHostFile(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // Every file and folder below the root, as host paths relative to it, sorted.
  std::vector<std::string> Listing() const;

 private:
  struct Mapping {
    char letter;
    std::string type;
    std::string folder;
  };
  void WriteTable() const;

  char letter_;
  std::string table_;
  std::vector<Mapping> drives_;
  bool hadVariable_ = false;
  std::string savedVariable_;
};

// A code page 932 string from UTF-8 source text (so tests can write "表" and get 95 5C).
std::string Ansi(const std::string& utf8);
