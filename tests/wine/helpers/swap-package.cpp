// swap-package: a copy of the updater carrying another package, or none, without a rebuild.
//
//   swap-package IN.exe OUT.exe PACKAGE.bin     OUT gets PACKAGE.bin as its ZIPFILE/UPDATE (1041)
//   swap-package IN.exe OUT.exe --remove        OUT has no such resource
//
// Every other resource (manifest, version) is kept. Exit code 0 on success, 1 otherwise.
//
// OUT's resources are rebuilt from scratch: every resource of IN but the package is copied
// over, then the new package added. Deleting a resource by updating it with no data is
// documented, but Wine 8 leaves such a resource in place; starting from an empty resource
// section works the same on both.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const WORD Japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041

// The whole file in a malloc'd buffer; NULL when it cannot be read.
static BYTE* ReadWholeFile(const char* path, DWORD* size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD high = 0;
  *size = GetFileSize(file, &high);
  BYTE* data = (*size == INVALID_FILE_SIZE || high) ? nullptr : (BYTE*)malloc(*size ? *size : 1);
  DWORD got = 0;
  if (data && !(ReadFile(file, data, *size, &got, nullptr) && got == *size)) {
    free(data);
    data = nullptr;
  }
  CloseHandle(file);
  return data;
}

struct Copying {
  HMODULE source;
  HANDLE update;
  int ok;
};

static int IsPackage(LPCSTR type, LPCSTR name, WORD language) {
  return !IS_INTRESOURCE(type) && !IS_INTRESOURCE(name) && lstrcmpiA(type, "ZIPFILE") == 0 &&
         lstrcmpiA(name, "UPDATE") == 0 && language == Japanese;
}

static BOOL CALLBACK CopyLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language,
                                  LONG_PTR param) {
  Copying* copying = (Copying*)param;
  if (IsPackage(type, name, language)) return TRUE;
  HRSRC found = FindResourceExA(copying->source, type, name, language);
  HGLOBAL loaded = found ? LoadResource(copying->source, found) : nullptr;
  void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || !UpdateResourceA(copying->update, type, name, language, data,
                                SizeofResource(copying->source, found))) {
    copying->ok = 0;
    return FALSE;
  }
  return TRUE;
}

static BOOL CALLBACK CopyName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  EnumResourceLanguagesA(module, type, name, CopyLanguage, param);
  return ((Copying*)param)->ok;
}

static BOOL CALLBACK CopyType(HMODULE module, LPSTR type, LONG_PTR param) {
  EnumResourceNamesA(module, type, CopyName, param);
  return ((Copying*)param)->ok;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: swap-package IN.exe OUT.exe PACKAGE.bin|--remove\n");
    return 1;
  }
  const int removing = strcmp(argv[3], "--remove") == 0;
  DWORD size = 0;
  BYTE* package = nullptr;
  if (!removing && !(package = ReadWholeFile(argv[3], &size))) {
    fprintf(stderr, "swap-package: cannot read %s (error %lu)\n", argv[3], GetLastError());
    return 1;
  }
  if (!CopyFileA(argv[1], argv[2], FALSE)) {
    fprintf(stderr, "swap-package: cannot copy %s to %s (error %lu)\n", argv[1], argv[2],
            GetLastError());
    return 1;
  }
  HMODULE source = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!source) {
    fprintf(stderr, "swap-package: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  HANDLE update = BeginUpdateResourceA(argv[2], TRUE);
  if (!update) {
    fprintf(stderr, "swap-package: BeginUpdateResource failed (error %lu)\n", GetLastError());
    return 1;
  }
  Copying copying = {source, update, 1};
  EnumResourceTypesA(source, CopyType, (LONG_PTR)&copying);
  if (!copying.ok ||
      (!removing && !UpdateResourceA(update, "ZIPFILE", "UPDATE", Japanese, package, size))) {
    fprintf(stderr, "swap-package: UpdateResource failed (error %lu)\n", GetLastError());
    EndUpdateResourceA(update, TRUE);
    return 1;
  }
  FreeLibrary(source);
  if (!EndUpdateResourceA(update, FALSE)) {
    fprintf(stderr, "swap-package: EndUpdateResource failed (error %lu)\n", GetLastError());
    return 1;
  }
  free(package);
  return 0;
}
