// The trace channel: each line is formatted into a local buffer and handed to the monitor
// window, looked up anew for every line, by WM_SETTEXT. Nothing is kept between calls; with no
// monitor the line is dropped.
#include "trace/trace.h"

#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"

void Trace(const char* format, ...) {
  // Zero-filled and closed by hand: on Windows the vsnprintf linked may be msvcrt's, which
  // leaves a cut line unterminated and answers -1, and a formatting error may leave the buffer
  // half written. Either way what goes out is at most 1023 bytes of what was formatted.
  char line[1024] = "";
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  line[sizeof line - 1] = '\0';

  HWND monitor = FindWindowA("DebugMonitor", nullptr);
  if (monitor) SendMessageA(monitor, WM_SETTEXT, 0, (LPARAM)line);
}
