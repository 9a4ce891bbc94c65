// The POSIX layer's door for host programs (the packer, the Linux monitor and the tests that
// look at how things are kept on the host): what they may use of the layer besides
// platform/platform.h. Everything else under platform/posix/ is the layer's own.
//
//   code page 932 <-> UTF-8        PosixAnsiToUtf8, PosixUtf8ToAnsi, PosixAnsiRoundTrips
//   text for a UTF-8 terminal      PosixAnsiToDisplay
//   the monitor's local socket     PosixMonitorSocketPath, POSIX_MONITOR_MAX_LINE, _ACK
//   calendar arithmetic            PosixDaysFromCivil, PosixCivilFromDays
//   what the layer keeps open      PosixIsKeptFd (for the tests' descriptor counts)
#pragma once

#include "platform/posix/calendar.h"
#include "platform/posix/codepage.h"
#include "platform/posix/display.h"
#include "platform/posix/kept.h"
#include "platform/posix/monitor.h"
