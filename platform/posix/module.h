// A module as the POSIX layer sees it: the resources linked into it. The build links a table
// into each program (cmake/Embed.cmake), and tests may build a module of their own to hand a
// resource to code that takes one. Only the build's generated table, the layer's resource
// calls and the tests see this; the program knows modules only as HMODULE.
#pragma once

#include "platform/platform.h"

// HMODULE NULL names the running program, whose table is PosixProgramModule.
typedef struct PosixResource {
  const char* Type;  // upper-case, as resource compilers store names
  const char* Name;  // upper-case
  WORD Language;
  const BYTE* Data;
  const BYTE* End;  // one past the last byte
} PosixResource;

struct HINSTANCE__ {
  const PosixResource* Resources;
  DWORD Count;
};

#ifdef __cplusplus
extern "C" {
#endif

// The running program's module; defined by the build for each program (empty when nothing is
// embedded).
extern const struct HINSTANCE__ PosixProgramModule;

#ifdef __cplusplus
}
#endif
