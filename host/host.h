// The host utilities: what runs on the Linux host below the POSIX layer and beside it, shared
// by the layer, the host programs (the packer, the Linux monitor) and the tests that look at
// how things are kept on the host. Nothing here calls the layer or knows of Win32; the layer
// builds on it (platform/posix/), never the other way round.
//
//   code page 932 <-> UTF-8        HostAnsiToUtf8, HostUtf8ToAnsi, HostAnsiRoundTrips
//   text for a UTF-8 terminal      HostAnsiToDisplay
//   the monitor's local socket     HostMonitorSocketPath, HOST_MONITOR_MAX_LINE, _ACK
//   calendar arithmetic            HostDaysFromCivil, HostCivilFromDays
#pragma once

#include "host/calendar.h"
#include "host/codepage.h"
#include "host/display.h"
#include "host/monitor.h"
