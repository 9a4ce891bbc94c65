// The monitor's local socket: where the sending side (the POSIX layer's "DebugMonitor" window)
// and the receiving side (the debug-monitor program) meet.
#include "host/monitor.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int HostMonitorSocketPath(char* out, size_t size) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  int length = runtime && runtime[0]
                   ? snprintf(out, size, "%s/DebugMonitor", runtime)
                   : snprintf(out, size, "/tmp/DebugMonitor-%lu", (unsigned long)getuid());
  if (length < 0 || (size_t)length >= size) {
    if (size) out[0] = '\0';
    return 0;
  }
  return 1;
}
