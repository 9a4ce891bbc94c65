#include "package/package.h"
PackageOutcome OpenPackage(HMODULE, Package* package) { package->Data = nullptr; package->Length = 0; return PackageMissing; }
void ClosePackage(Package*) {}
