// Host-side view of the scratch drive, for the checks that only make sense over the POSIX
// layer (how things are stored on the host).
#pragma once

#include <string>

// The host folder behind ScratchRoot(), with a trailing '/'.
std::string ScratchHostRoot();

// The drive table folder the scratch drive is registered in (ZARPO_DOSDEVICES).
std::string ScratchDriveTable();
