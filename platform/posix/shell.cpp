// ShellExecuteA for the default verb: a Windows program is started under wine, any other file
// is handed to the desktop's opener (xdg-open). The program is started detached, as the shell
// does on Windows: in a session of its own (the updater's end, or its terminal's, does not end
// it), never waited for, reaped by init rather than left a zombie, with no input.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/extra_calls.h"
#include "platform/posix/hostpath.h"

// ShellExecute's answers: above 32 is success; the errors are the SE_ERR_* values.
#define SHELL_OK ((HINSTANCE)(INT_PTR)33)
#define SHELL_ERROR(code) ((HINSTANCE)(INT_PTR)(code))
#define SE_ERR_FNF_VALUE 2
#define SE_ERR_PNF_VALUE 3
#define SE_ERR_ACCESSDENIED_VALUE 5
#define SE_ERR_OOM_VALUE 8
#define SE_ERR_NOASSOC_VALUE 31

#define HOST_PATH_SIZE 4096

// The full path of `name` in a folder of $PATH that holds it as an executable file, or 0.
// Relative entries (an empty one means the current folder) are passed over: the updater runs
// from wherever it was started, a key disk included, and should not start what lies there.
static int FindOnPath(const char* name, char* out, size_t size) {
  const char* path = getenv("PATH");
  if (!path) return 0;
  while (1) {
    const char* end = strchr(path, ':');
    size_t length = end ? (size_t)(end - path) : strlen(path);
    int written = path[0] == '/' ? snprintf(out, size, "%.*s/%s", (int)length, path, name) : -1;
    struct stat info;
    if (written > 0 && (size_t)written < size && stat(out, &info) == 0 && S_ISREG(info.st_mode) &&
        access(out, X_OK) == 0)
      return 1;
    if (!end) return 0;
    path = end + 1;
  }
}

static int EndsWithExe(const char* path) {
  size_t length = strlen(path);
  return length >= 4 && strcasecmp(path + length - 4, ".exe") == 0;
}

// Starts argv[0] detached. The grandchild reports a failed exec through a close-on-exec pipe,
// which a successful exec closes with nothing written. 0 or an errno value.
static int StartDetached(char** argv) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;
  pid_t child = fork();
  if (child < 0) {
    int error = errno;
    close(report[0]);
    close(report[1]);
    return error;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int error = 0;
    int input = open("/dev/null", O_RDONLY);
    if (input < 0 || dup2(input, STDIN_FILENO) < 0) error = errno;
    if (input > STDIN_FILENO) close(input);
    if (!error) {
      execv(argv[0], argv);
      error = errno;
    }
    while (write(report[1], &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
  }
  close(report[1]);
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got == (ssize_t)sizeof error) return error;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return EAGAIN;  // no grandchild
  return 0;
}

static HINSTANCE ErrorOfErrno(int error) {
  switch (error) {
    case ENOENT:
      return SHELL_ERROR(SE_ERR_FNF_VALUE);
    case ENOTDIR:
      return SHELL_ERROR(SE_ERR_PNF_VALUE);
    case EACCES:
    case EPERM:
      return SHELL_ERROR(SE_ERR_ACCESSDENIED_VALUE);
    case ENOMEM:
      return SHELL_ERROR(SE_ERR_OOM_VALUE);
    default:
      return SHELL_ERROR(SE_ERR_NOASSOC_VALUE);
  }
}

// `file` is a Windows path on the layer's drives. The program starts what it has just written
// with no parameters and no working folder, so neither is offered: either is refused. The show
// command has no meaning here.
extern "C" HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                                          LPCSTR directory, int) {
  if (operation && operation[0] && strcasecmp(operation, "open") != 0)
    return SHELL_ERROR(SE_ERR_NOASSOC_VALUE);
  if ((parameters && parameters[0]) || (directory && directory[0]))
    return SHELL_ERROR(SE_ERR_NOASSOC_VALUE);
  if (!file || !file[0]) return SHELL_ERROR(SE_ERR_FNF_VALUE);

  char hostFile[HOST_PATH_SIZE];
  if (!PosixHostPath(file, hostFile, sizeof hostFile))
    return SHELL_ERROR(GetLastError() == ERROR_PATH_NOT_FOUND ? SE_ERR_PNF_VALUE
                                                              : SE_ERR_FNF_VALUE);
  struct stat info;
  if (stat(hostFile, &info) != 0) return ErrorOfErrno(errno);
  // Absolute, so that it cannot be taken for an option by the program that opens it.
  char absoluteFile[PATH_MAX];
  if (!realpath(hostFile, absoluteFile)) return ErrorOfErrno(errno);

  char program[HOST_PATH_SIZE];
  int found = EndsWithExe(file) ? FindOnPath("wine", program, sizeof program) ||
                                      FindOnPath("wine64", program, sizeof program)
                                : FindOnPath("xdg-open", program, sizeof program);
  if (!found) return SHELL_ERROR(SE_ERR_NOASSOC_VALUE);
  char* argv[] = {program, absoluteFile, nullptr};
  int error = StartDetached(argv);
  return error ? ErrorOfErrno(error) : SHELL_OK;
}
