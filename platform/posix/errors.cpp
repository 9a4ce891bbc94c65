// The calling thread's last error, as GetLastError/SetLastError keep it on Windows, the error
// mode, which means nothing here (no system dialogs to suppress), and the translation of host
// errors into Win32 codes.
#include <errno.h>

#include "platform/extra_calls.h"
#include "platform/posix/errors.h"

static thread_local DWORD LastError = ERROR_SUCCESS;

extern "C" DWORD WINAPI GetLastError(void) { return LastError; }

extern "C" void WINAPI SetLastError(DWORD error) { LastError = error; }

extern "C" UINT WINAPI SetErrorMode(UINT) { return 0; }

int PosixFail(DWORD error) {
  SetLastError(error);
  return 0;
}

int PosixFailErrno() { return PosixFail(PosixErrorFromErrno(errno)); }

// Win32 codes for host errno values: one switch, nothing looked at. What depends on the path
// (a missing file or a missing folder on the way, a drive without a medium) is decided where the
// path is resolved (beneath.cpp), not here.
DWORD PosixErrorFromErrno(int error) {
  if (error == 0) return ERROR_SUCCESS;
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EINVAL:
    case EFAULT:
      return ERROR_INVALID_PARAMETER;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case ENOTSUP:
      return ERROR_NOT_SUPPORTED;
    case ELOOP:
      return ERROR_INVALID_NAME;
    default:  // EIO and whatever else the host may have
      return ERROR_GEN_FAILURE;
  }
}
