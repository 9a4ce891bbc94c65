// Scratch folders for the conformance tests over the POSIX layer: the test helpers' scratch
// drive (support/scratch_drive.h), here the removable drive S:, kept for the whole run and
// removed at its end, and one fresh folder on it per test.
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <time.h>

#include <filesystem>
#include <string>

#include "scratch.h"
#include "scratch_host.h"
#include "support/scratch_drive.h"

namespace {

ScratchDrive& Drive() {
  static ScratchDrive drive('S', "removable");
  return drive;
}

}  // namespace

const char* ScratchRoot() {
  static std::string current;
  static std::string root;
  std::string name = ScratchTestName();
  if (name != current) {
    current = name;
    std::filesystem::remove_all(Drive().HostPath(name));
    Drive().MakeFolder(name);
    root = Drive().Root() + name + "\\";
  }
  return root.c_str();
}

std::string ScratchHostRoot() {
  ScratchRoot();
  return Drive().HostPath(ScratchTestName()) + "/";
}

std::string ScratchDriveTable() { return Drive().Table(); }

bool RunningUnderWine() { return false; }

bool AnsiCodePageIs932() { return true; }

ScratchMedium ScratchMediumKind() {
  struct statfs fs;
  if (statfs(ScratchHostRoot().c_str(), &fs) != 0) return OtherMedium;
  if (fs.f_type == MSDOS_SUPER_MAGIC) return FatMedium;
  if ((unsigned long)fs.f_type == 0x2011BAB0ul) return ExfatMedium;
  return OtherMedium;
}

bool MediumKeepsHiddenAndSystem() {
  if (ScratchMediumKind() != ExfatMedium) return true;
  struct utsname system;
  int major = 0, minor = 0;
  if (uname(&system) != 0 || sscanf(system.release, "%d.%d", &major, &minor) != 2) return false;
  return major > 6 || (major == 6 && minor >= 7);
}

bool FatRoundsTimesDown() { return true; }

void SetProcessTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}
