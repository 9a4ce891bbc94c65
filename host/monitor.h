// The local socket behind the POSIX layer's "DebugMonitor" window, shared by
// window.cpp (the sending side) and the debug-monitor host program (the receiving side). The
// exchange on it is described at the top of window.cpp.
#pragma once

#include <stddef.h>

// Longest line the exchange carries; a receiver drops a longer one unacknowledged.
#define HOST_MONITOR_MAX_LINE 65536u
// The byte a receiver answers once it has taken a line.
#define HOST_MONITOR_ACK 0x06

// The socket's path: $XDG_RUNTIME_DIR/DebugMonitor, or /tmp/DebugMonitor-<uid> when that
// variable is unset or empty. 1, or 0 (out holds "") when it does not fit in `size` bytes.
int HostMonitorSocketPath(char* out, size_t size);
