// Installing the package into the product folder: every entry written unless an identical file
// is already there, the walk stopped at the first failed write, then the files the release no
// longer uses removed.
#pragma once

#include "platform/platform.h"

// The seven files of earlier releases removed from the product folder after every installation
// that found its package (release data, fixed at build time: see obsolete_files.cpp).
const int ObsoleteFileCount = 7;
extern const char* const ObsoleteFiles[ObsoleteFileCount];

// 1 when the package was good and every entry was found identical or written; 0 otherwise.
// TargetFolder is the product folder with its trailing backslash, e.g. "E:\Zarpo\".
int InstallPackage(const char* TargetFolder);

// The same with the package of `module` (NULL: the running program).
int InstallPackageFrom(HMODULE module, const char* TargetFolder);
