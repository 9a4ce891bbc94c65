// Rewriting a program's resources with the resource update calls of Windows; see
// program_resources.h.
//
// The resource section is rebuilt from scratch (BeginUpdateResourceW with
// bDeleteExistingResources): every resource of the stub but the package and the version is
// copied over, then the new ones added. Deleting a resource by updating it with no data is
// documented, but Wine 8 leaves such a resource in place; starting from an empty section works
// the same on both.
#include <windows.h>

#include "release/program_resources.h"
#include "release/windows/wide.h"

namespace {

const WORD Japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041
const LPCWSTR VersionType = MAKEINTRESOURCEW(16);                  // RT_VERSION

std::string Failed(const std::string& what) {
  return what + " failed (error " + std::to_string(GetLastError()) + ")";
}

// A type or name as the calls pass it: "#16" for an id, else the name.
std::string Label(LPCWSTR label) {
  if (IS_INTRESOURCE(label)) return "#" + std::to_string((ULONG_PTR)label);
  std::string text;
  for (LPCWSTR c = label; *c; c++) text += *c < 0x80 ? (char)*c : '?';
  return text;
}

bool Replaced(LPCWSTR type, LPCWSTR name) {
  if (IS_INTRESOURCE(type)) return type == VersionType;
  return lstrcmpiW(type, L"ZIPFILE") == 0 && !IS_INTRESOURCE(name) &&
         lstrcmpiW(name, L"UPDATE") == 0;
}

struct Copying {
  HMODULE source;
  HANDLE update;
  std::string error;
};

BOOL CALLBACK CopyLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  Copying* copying = (Copying*)param;
  if (Replaced(type, name)) return TRUE;
  HRSRC found = FindResourceExW(copying->source, type, name, language);
  HGLOBAL loaded = found ? LoadResource(copying->source, found) : nullptr;
  void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = found ? SizeofResource(copying->source, found) : 0;
  if (!data || !UpdateResourceW(copying->update, type, name, language, data, size)) {
    copying->error = Failed("copying the stub's resource " + Label(type) + "/" + Label(name) +
                            " (language " + std::to_string(language) + ")");
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CopyName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  EnumResourceLanguagesW(module, type, name, CopyLanguage, param);
  return ((Copying*)param)->error.empty();
}

BOOL CALLBACK CopyType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, CopyName, param);
  return ((Copying*)param)->error.empty();
}

}  // namespace

bool CanWriteProgramResources(std::string* why) {
  why->clear();
  return true;
}

bool WriteProgramResources(const std::string& stub, const std::string& path,
                           const std::string& package, const std::string& version,
                           std::string* error) {
  HMODULE source = LoadLibraryExW(Wide(stub).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!source) {
    *error = Failed("reading the resources of " + stub);
    return false;
  }
  HANDLE update = BeginUpdateResourceW(Wide(path).c_str(), TRUE);
  if (!update) {
    *error = Failed("BeginUpdateResourceW on " + path);
    FreeLibrary(source);
    return false;
  }
  Copying copying = {source, update, ""};
  EnumResourceTypesW(source, CopyType, (LONG_PTR)&copying);
  FreeLibrary(source);
  if (copying.error.empty() && !UpdateResourceW(update, L"ZIPFILE", L"UPDATE", Japanese,
                                                (void*)package.data(), (DWORD)package.size())) {
    copying.error = Failed("adding the package");
  }
  if (copying.error.empty() && !UpdateResourceW(update, VersionType, MAKEINTRESOURCEW(1), Japanese,
                                                (void*)version.data(), (DWORD)version.size())) {
    copying.error = Failed("adding the version resource");
  }
  if (!copying.error.empty()) {
    EndUpdateResourceW(update, TRUE);
    *error = copying.error;
    return false;
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    *error = Failed("EndUpdateResourceW on " + path);
    return false;
  }
  return true;
}
