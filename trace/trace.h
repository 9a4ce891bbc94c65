// The trace channel: one printf-style line (at most 1023 bytes; longer lines are cut) per call,
// delivered to a window of class "DebugMonitor" by WM_SETTEXT when one is open, else dropped.
#pragma once

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
