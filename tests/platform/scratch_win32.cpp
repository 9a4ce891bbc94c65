// Scratch folders for the conformance tests on Windows (and Wine): below the folder named by
// ZARPO_TEST_ROOT (for example "E:\scratch\", to test on a removable drive), else below a
// folder of this run in the temporary folder; one fresh folder per test.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/extra_calls.h"
#include "scratch.h"

namespace {

std::string WithBackslash(std::string path) {
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path;
}

// Removes a folder and everything below it, read-only, hidden and system files included.
void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path + "\\");
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  std::string self = folder.substr(0, folder.size() - 1);
  SetFileAttributesA(self.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(self.c_str());
}

struct State {
  std::string base;
  bool ownBase = false;
  std::vector<std::string> made;
};

State& Scratch() {
  static State state;
  return state;
}

class ScratchCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    State& state = Scratch();
    for (const std::string& folder : state.made) RemoveTree(folder);
    if (state.ownBase) RemoveTree(state.base);
  }
};

[[maybe_unused]] ::testing::Environment* const cleanup = ::testing::AddGlobalTestEnvironment(
    new ScratchCleanup);

const std::string& Base() {
  State& state = Scratch();
  if (!state.base.empty()) return state.base;
  const char* given = getenv("ZARPO_TEST_ROOT");
  if (given && *given) {
    state.base = WithBackslash(given);
  } else {
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    std::string folder = n && n < sizeof temp ? WithBackslash(temp) : std::string("C:\\");
    state.base = folder + "zarpo-conformance-" + std::to_string(GetCurrentProcessId()) + "\\";
    state.ownBase = true;
  }
  CreateDirectoryA(state.base.substr(0, state.base.size() - 1).c_str(), nullptr);
  return state.base;
}

}  // namespace

const char* ScratchRoot() {
  static std::string current;
  static std::string root;
  std::string name = ScratchTestName();
  if (name != current) {
    current = name;
    root = Base() + name + "\\";
    RemoveTree(root);
    CreateDirectoryA(root.substr(0, root.size() - 1).c_str(), nullptr);
    Scratch().made.push_back(root);
  }
  return root.c_str();
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool AnsiCodePageIs932() { return GetACP() == 932; }

ScratchMedium ScratchMediumKind() {
  std::string root = ScratchRoot();
  char system[MAX_PATH] = "";
  if (root.size() < 3 || root[1] != ':' ||
      !GetVolumeInformationA(root.substr(0, 3).c_str(), nullptr, 0, nullptr, nullptr, nullptr,
                             system, sizeof system)) {
    return OtherMedium;
  }
  std::string name = system;
  if (name == "exFAT") return ExfatMedium;
  return name.compare(0, 3, "FAT") == 0 ? FatMedium : OtherMedium;
}

bool MediumKeepsHiddenAndSystem() {
  return !RunningUnderWine() || ScratchMediumKind() == OtherMedium;
}

bool FatRoundsTimesDown() { return RunningUnderWine(); }

void SetProcessTimeZone(const char* zone) {
  _putenv_s("TZ", zone);
  _tzset();
}
