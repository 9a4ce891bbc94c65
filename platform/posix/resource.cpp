// Resources of a module. A module is the table of resources the build linked into the program
// (HMODULE NULL), or a table a caller made. Type and name strings match without regard to case,
// as on Windows; integer identifiers (MAKEINTRESOURCE) are not used by the program and are
// never found. The language is not looked at: like Windows, any language of the name serves.
#include <strings.h>

#include "platform/extra_calls.h"
#include "platform/posix/module.h"

// A program that embeds nothing has an empty module; the build's generated table overrides this.
extern "C" __attribute__((weak)) const struct HINSTANCE__ PosixProgramModule = {nullptr, 0};

static const HINSTANCE__* ModuleOf(HMODULE module) { return module ? module : &PosixProgramModule; }

extern "C" HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (!name || !type || IS_INTRESOURCE(name) || IS_INTRESOURCE(type)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const HINSTANCE__* table = ModuleOf(module);
  bool typeSeen = false;
  for (DWORD i = 0; i < table->Count; i++) {
    const PosixResource* resource = &table->Resources[i];
    if (strcasecmp(resource->Type, type) != 0) continue;
    typeSeen = true;
    if (strcasecmp(resource->Name, name) == 0) {
      return (HRSRC) const_cast<PosixResource*>(resource);
    }
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  if (!resource) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return (HGLOBAL)((const PosixResource*)resource)->Data;
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

extern "C" DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const PosixResource* r = (const PosixResource*)resource;
  return (DWORD)(r->End - r->Data);
}
