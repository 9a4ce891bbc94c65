// Where the system may look for the DLLs it loads by name on the program's behalf: only in its
// own folder, never beside the program. Called first thing by the updater, DebugMonitor
// and zarpo-pack.
#pragma once

// Restricts the search for DLLs loaded by name (by the system DLLs behind the message boxes,
// the shell and the common dialogs) to the system folder. 1 when the system folder is now the
// only place searched; 0 when only the current folder could be taken out of the search (a
// Windows 7 without the update that brought SetDefaultDllDirectories) or nothing could be
// changed. Either way the program goes on exactly as before: nothing else depends on it.
int RestrictDllSearch();
