// Scratch folders for the conformance tests over the POSIX layer: the test helpers' scratch
// drive (support/scratch_drive.h), here the removable drive S:, kept for the whole run and
// removed at its end, and one fresh folder on it per test.
#include <gtest/gtest.h>
#include <stdlib.h>
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

void SetProcessTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}
