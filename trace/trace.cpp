// The trace channel: each line is formatted into a local buffer and handed to the monitor
// window, looked up anew for every line, by WM_SETTEXT. Nothing is kept between calls; with no
// monitor the line is dropped.
#include "trace/trace.h"

#include <stdarg.h>

#include "platform/platform.h"

void Trace(const char* format, ...) {
  // user32's formatting: its 1024-byte limit is the line's, and it spares the program a C
  // library printf. Zero-filled and closed by hand all the same, so that whatever happens what
  // goes out is at most 1023 bytes of what was formatted.
  char line[1024] = "";
  va_list arguments;
  va_start(arguments, format);
  wvsprintfA(line, format, arguments);
  va_end(arguments);
  line[sizeof line - 1] = '\0';

  HWND monitor = FindWindowA("DebugMonitor", nullptr);
  if (monitor) SendMessageA(monitor, WM_SETTEXT, 0, (LPARAM)line);
}
