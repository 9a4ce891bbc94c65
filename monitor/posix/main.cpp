// debug-monitor: the "DebugMonitor" window of the POSIX layer. Listens on the layer's monitor
// socket, shows every trace line it receives on standard output (code page 932 converted to
// UTF-8), optionally appends the lines to a file (in UTF-8 like the output, or with --raw as the
// code page 932 bytes received), and acknowledges each line only once it is shown and stored,
// so that a program that has traced a line knows it is out.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host.h"

namespace {

const char Usage[] =
    "usage: debug-monitor [options]\n"
    "Shows the trace lines of the updater (and of anything that traces through the same\n"
    "channel) as they arrive, one per output line, in UTF-8.\n"
    "\n"
    "  --append FILE   also append each line and a line feed to FILE, in UTF-8 as shown\n"
    "                  (without the time stamp or number)\n"
    "  --raw           append the bytes as received instead (code page 932)\n"
    "  --socket PATH   listen on PATH instead of $XDG_RUNTIME_DIR/DebugMonitor\n"
    "                  (/tmp/DebugMonitor-<uid> without XDG_RUNTIME_DIR)\n"
    "  --timestamp     start each line with the local time of its arrival\n"
    "  --number        start each line with its sequence number\n"
    "  --version       show the version\n"
    "  --help          show this text\n"
    "\n"
    "Bytes that are not valid code page 932 and control bytes are shown as \\xNN.\n"
    "Stops on SIGINT or SIGTERM and removes its socket.\n";

// A client that connects and then says nothing must not hold the monitor up for long.
const int ClientTimeoutSeconds = 5;

struct Options {
  std::string Socket;
  std::string Append;
  bool Timestamp = false;
  bool Number = false;
  bool Raw = false;
};

int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  char b = 0;
  ssize_t ignored = write(StopPipe[1], &b, 1);
  (void)ignored;
}

bool ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      fputs(Usage, stdout);
      exit(0);
    } else if (argument == "--version") {
      printf("debug-monitor %s\n", ZARPO_VERSION);
      exit(0);
    } else if (argument == "--raw") {
      options.Raw = true;
    } else if ((argument == "--append" || argument == "--socket") && i + 1 < argc) {
      (argument == "--append" ? options.Append : options.Socket) = argv[++i];
    } else if (argument == "--timestamp") {
      options.Timestamp = true;
    } else if (argument == "--number") {
      options.Number = true;
    } else {
      fprintf(stderr, "debug-monitor: unknown or incomplete option '%s'\n%s", argv[i], Usage);
      return false;
    }
  }
  if (options.Socket.empty()) {
    char path[sizeof(sockaddr_un::sun_path)];
    if (!HostMonitorSocketPath(path, sizeof path)) {
      fprintf(stderr, "debug-monitor: the socket path is too long\n");
      return false;
    }
    options.Socket = path;
  }
  return true;
}

bool AddressOf(const std::string& path, sockaddr_un& address) {
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Makes the socket path free for us: refuses when a monitor answers there or when something
// other than a socket lies there; removes a socket left behind by a monitor that died.
bool ClaimSocketPath(const std::string& path, const sockaddr_un& address) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISSOCK(info.st_mode)) {
    fprintf(stderr, "debug-monitor: %s exists and is not a socket\n", path.c_str());
    return false;
  }
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  int connected = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int error = errno;
  close(probe);
  if (connected == 0) {
    fprintf(stderr, "debug-monitor: another monitor is already listening on %s\n", path.c_str());
    return false;
  }
  if (error != ECONNREFUSED) {
    fprintf(stderr, "debug-monitor: %s: %s\n", path.c_str(), strerror(error));
    return false;
  }
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool ReadAll(int fd, char* data, size_t length) {
  while (length) {
    ssize_t got = read(fd, data, length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length) {
    ssize_t written = write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

// One line per connection (the exchange is described in platform/posix/window.cpp). False
// when the connection carried no line: a probe, a client gone early, or a line too long.
bool ReceiveLine(int client, std::vector<char>& line) {
  unsigned char header[4];
  if (!ReadAll(client, reinterpret_cast<char*>(header), sizeof header)) return false;
  size_t length = header[0] | header[1] << 8 | header[2] << 16 |
                  static_cast<size_t>(header[3]) << 24;
  if (length > HOST_MONITOR_MAX_LINE) {
    fprintf(stderr, "debug-monitor: dropped a line of %zu bytes\n", length);
    return false;
  }
  line.resize(length);
  return ReadAll(client, line.data(), length);
}

// The line as a terminal shows it: UTF-8, with what is no text escaped (\xNN).
std::string DisplayForm(const std::vector<char>& line) {
  // Every byte may become a four-character escape.
  std::vector<char> shown(line.size() * 4 + 1);
  size_t length = HostAnsiToDisplay(line.data(), line.size(), 0, shown.data(), shown.size());
  return std::string(shown.data(), length);
}

void ShowLine(const Options& options, unsigned long number, const std::vector<char>& line) {
  std::string prefix;
  if (options.Number) prefix += std::to_string(number) + " ";
  if (options.Timestamp) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    size_t used = strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    snprintf(stamp + used, sizeof stamp - used, ".%03ld ", now.tv_nsec / 1000000);
    prefix += stamp;
  }
  std::string shown = DisplayForm(line);
  fwrite(prefix.data(), 1, prefix.size(), stdout);
  fwrite(shown.data(), 1, shown.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

int Run(const Options& options) {
  sockaddr_un address;
  if (!AddressOf(options.Socket, address)) {
    fprintf(stderr, "debug-monitor: socket path too long: %s\n", options.Socket.c_str());
    return 1;
  }
  int appendFile = -1;
  if (!options.Append.empty()) {
    appendFile = open(options.Append.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (appendFile < 0) {
      fprintf(stderr, "debug-monitor: %s: %s\n", options.Append.c_str(), strerror(errno));
      return 1;
    }
  }
  if (!ClaimSocketPath(options.Socket, address)) return 1;

  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // Only this user may connect: the lines name the user's files.
  mode_t oldMask = umask(077);
  int bound = listener >= 0 ? bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address)
                            : -1;
  umask(oldMask);
  if (bound != 0 || listen(listener, 16) != 0) {
    fprintf(stderr, "debug-monitor: cannot listen on %s: %s\n", options.Socket.c_str(),
            strerror(errno));
    return 1;
  }
  struct stat ours;
  stat(options.Socket.c_str(), &ours);

  fprintf(stderr, "debug-monitor: listening on %s\n", options.Socket.c_str());
  unsigned long number = 0;
  std::vector<char> line;
  for (;;) {
    pollfd waits[2] = {{listener, POLLIN, 0}, {StopPipe[0], POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waits[1].revents) break;
    if (!(waits[0].revents & POLLIN)) continue;
    int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    timeval timeout = {ClientTimeoutSeconds, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (ReceiveLine(client, line)) {
      ++number;
      ShowLine(options, number, line);
      if (appendFile >= 0) {
        // One write per line, so that a line is never found half appended.
        std::string stored = options.Raw ? std::string(line.data(), line.size())
                                         : DisplayForm(line);
        stored += '\n';
        if (!WriteAll(appendFile, stored.data(), stored.size()))
          fprintf(stderr, "debug-monitor: %s: %s\n", options.Append.c_str(), strerror(errno));
      }
      char ack = HOST_MONITOR_ACK;
      send(client, &ack, 1, MSG_NOSIGNAL);
    }
    close(client);
  }

  close(listener);
  // Remove the socket only if it is still the one we made.
  struct stat now;
  if (stat(options.Socket.c_str(), &now) == 0 && now.st_ino == ours.st_ino &&
      now.st_dev == ours.st_dev)
    unlink(options.Socket.c_str());
  if (appendFile >= 0) close(appendFile);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) return 2;
  setvbuf(stdout, nullptr, _IOLBF, 0);

  if (pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction stop;
  memset(&stop, 0, sizeof stop);
  stop.sa_handler = OnStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  // A client gone before its acknowledgement must not end the monitor.
  signal(SIGPIPE, SIG_IGN);
  return Run(options);
}
