// Rewriting a program's resources outside Windows: refused; see program_resources.h.
#include "release/program_resources.h"

static const char Refusal[] =
    "stamp writes the updater's resources through Windows' own calls and runs only on Windows "
    "(zarpo-pack.exe of the win32 or win64 build); here the build embeds the package when it "
    "links the updater: cmake --preset win32 -DZARPO_PACKAGE=FILE -DZARPO_RELEASE_VERSION=x.y.z "
    "&& cmake --build --preset win32";

bool CanWriteProgramResources(std::string* why) {
  *why = Refusal;
  return false;
}

bool WriteProgramResources(const std::string&, const std::string&, const std::string&,
                           const std::string&, std::string* error) {
  *error = Refusal;
  return false;
}
