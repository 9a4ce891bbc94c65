// Whether the name a lookup reports for a path is the name that was asked for. A FAT key disk
// answers a lookup for a short alias (ZARPOC~1.DLL) or for a name with trailing dots with the
// file that owns that alias or shorter name, and reports that file's own name. Comparing the two
// tells a file of the asked name, perhaps in another letter case, from another file.
#pragma once

#include "platform/platform.h"

// The last level of `path`: what follows its last backslash or slash, found lead-byte aware.
const char* LastLevel(const char* path);

// 1 when `found` (cFileName of a lookup) names the same entry of a folder as `asked`: the two are
// the same bytes, or the same UTF-16 text in the ANSI code page when letter case is ignored as
// Windows ignores it in file names (fullwidth, Greek, Cyrillic and Roman-numeral letters
// included). Two codes of one character (code page 932's NEC and IBM rows) are one name. Text
// that is no valid ANSI text, or longer than a path, is another name.
int IsSameName(const char* asked, const char* found);
