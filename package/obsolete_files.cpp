// Release data of the current package: the files of earlier releases that it no longer uses.
// Four program modules of one kind, one module of a second kind, then two programs, removed in
// this order from the product folder itself (not from its sub-folders).
#include "package/install.h"

const char* const ObsoleteFiles[ObsoleteFileCount] = {
    "ZpFont32.dll", "ZpPlot32.dll", "ZpScan32.dll", "ZpLink32.dll",
    "ZpView.ocx",   "ZpConv.exe",   "ZpMaint.exe",
};
