// What a package entry must be for the updater to install it as a file of exactly that name
// inside the product folder. The installer refuses any other entry as a failed write; the packer
// refuses the same entries, so that a release it accepts never fails on a key disk for them.
#pragma once

#include "fs/write.h"
#include "platform/platform.h"

// The attribute bits an entry may carry: those a file can be given (fs/write.h). Anything else
// (the directory bit, the FILE_FLAG_* and security bits CreateFileA takes in the same argument)
// is not an attribute.
const DWORD InstallableAttributes = FileAttributeBits;

// Whether the stored name (`length` bytes, code page 932, backslashes between levels) names a
// file below the folder it is joined to and nothing else: no empty level, no leading separator,
// no colon; no NUL or other control byte; none of < > " | ? * as a character of its own; no lead
// byte without a valid trail byte; no level ending in a dot or a space (Windows drops them, and
// with them "." and ".."); no level that Windows takes for a device (CON, PRN, AUX, NUL,
// COM0-COM9, LPT0-LPT9, CONIN$, CONOUT$, with any extension and in any letter case).
int IsInstallableName(const char* name, DWORD length);

int IsInstallableAttributes(DWORD attributes);
