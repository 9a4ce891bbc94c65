// The updater's entry point.
#include "package/package.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Package package = {};
  PackageOutcome outcome = OpenPackage(nullptr, &package);
  ClosePackage(&package);
  MessageBoxA(nullptr, outcome == PackageGood ? "OK" : "NG", "Zarpo", MB_OK);
  return 0;
}
