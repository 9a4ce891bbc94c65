// The one window the updater talks to, the trace monitor of class "DebugMonitor", played on
// Linux by the debug-monitor program (monitor/posix/) behind a local socket.
//
// The exchange, one line per connection on an AF_UNIX stream socket at the path
// HostMonitorSocketPath gives:
//   sender   -> 4-byte little-endian length N (at most HOST_MONITOR_MAX_LINE), then the N
//               bytes of the line (code page 932, no NUL)
//   receiver -> one byte HOST_MONITOR_ACK once the line is shown (and stored), then closes
// A connection closed before the length arrives is a probe (FindWindowA) and carries nothing.
// The sender waits for the acknowledgement, as SendMessage waits for the window procedure on
// Windows; a receiver that dies closes the connection, which ends the wait.
//
// No state is kept: the window handle is a fixed value meaning "the monitor", and every call
// connects anew, so a monitor started or stopped in the middle of a run is simply found or not.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "host/monitor.h"
#include "platform/extra_calls.h"

#define MONITOR_WINDOW ((HWND)(UINT_PTR)0x4D4F4Eu)

// A connected socket to a live monitor run by this user (or by root), or -1. The owner check
// keeps the lines, which name the user's files, from a listener planted by someone else.
static int ConnectMonitor(void) {
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (!HostMonitorSocketPath(address.sun_path, sizeof address.sun_path)) return -1;
  // With no monitor running, a trace line costs one call instead of a socket made, refused and
  // closed: every entry of a package traces at least one line.
  struct stat st;
  if (stat(address.sun_path, &st) != 0 || !S_ISSOCK(st.st_mode)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct ucred peer;
  socklen_t peerSize = sizeof peer;
  if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0 ||
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 ||
      (peer.uid != getuid() && peer.uid != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// MSG_NOSIGNAL: a monitor gone in mid-line must cost a failed call, not a SIGPIPE.
static int SendAll(int fd, const char* data, size_t length) {
  while (length) {
    ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return 0;
    data += sent;
    length -= (size_t)sent;
  }
  return 1;
}

static int ReceiveAck(int fd) {
  for (;;) {
    unsigned char ack;
    ssize_t got = recv(fd, &ack, 1, 0);
    if (got < 0 && errno == EINTR) continue;
    return got == 1 && ack == HOST_MONITOR_ACK;
  }
}

// Only the monitor's class is known. It has no title, so only a search without a title (or
// for an empty one) finds it; a class given as an atom is no name we know.
extern "C" HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
  if (!className || IS_INTRESOURCE(className) || strcasecmp(className, "DebugMonitor") != 0)
    return nullptr;
  if (windowName && windowName[0]) return nullptr;
  int fd = ConnectMonitor();
  if (fd < 0) return nullptr;
  close(fd);
  return MONITOR_WINDOW;
}

// WM_SETTEXT to the monitor: TRUE once the monitor has taken the text. Any other message means
// nothing to the monitor and answers 0, as an unhandled message does.
extern "C" LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM, LPARAM lParam) {
  if (window != MONITOR_WINDOW) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (message != WM_SETTEXT) return 0;
  const char* text = lParam ? (const char*)lParam : "";
  size_t length = strlen(text);
  if (length > HOST_MONITOR_MAX_LINE) return 0;
  int fd = ConnectMonitor();
  if (fd < 0) return 0;
  char header[4] = {(char)(length & 0xFF), (char)((length >> 8) & 0xFF),
                    (char)((length >> 16) & 0xFF), (char)((length >> 24) & 0xFF)};
  int taken = SendAll(fd, header, sizeof header) && SendAll(fd, text, length) && ReceiveAck(fd);
  close(fd);
  return taken ? TRUE : FALSE;
}
