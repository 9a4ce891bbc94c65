// The link-time wrappers behind faults.h: one __wrap_Name per wrapped platform call, each
// logging the call and then either failing it as planned or handing it to __real_Name.
#include "support/faults.h"

#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <strings.h>

#include <utility>

#include <gtest/gtest.h>

namespace {

struct Plan {
  bool armed = false;
  int nth = 0;
  const char* name = nullptr;  // nullptr: any wrapped call
  FaultKind kind = FaultKind::Error;
  bool persist = false;
  int matched = 0;  // matching calls since arming
  int fired = 0;
};

Plan CurrentPlan;
// Buffers VirtualAlloc gave and VirtualFree has not taken back, over the whole process.
int LiveBuffers = 0;
std::vector<const char*> CallLog;
std::vector<std::string> CallDetails;
std::vector<std::string> TraceLines;
bool CaptureTrace = false;
bool ScriptedDialog = false;
std::vector<int> ScriptedAnswers;  // those not yet given, in order
std::vector<FaultBox> Boxes;
std::vector<FaultShellCall> ShellCalls;
std::string RenamedPath;  // FaultFoundName's, empty when off
std::string RenamedTo;

// The stand-in monitor window while trace capture is on; never a real handle of the layer.
HWND const CaptureWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7E57F00D));

bool SameName(const char* a, const char* b) { return std::string(a) == b; }

std::string Describe(const char* name, LPCSTR path, const char* extra) {
  std::string text = name;
  if (path != nullptr) text += std::string(" ") + path;
  if (extra != nullptr) text += std::string(" ") + extra;
  return text;
}

// Logs the call; true when the plan says this call fails (`kind` then tells how).
bool ShouldFail(const char* name, FaultKind* kind = nullptr, LPCSTR path = nullptr,
                const char* extra = nullptr) {
  CallLog.push_back(name);
  CallDetails.push_back(Describe(name, path, extra));
  Plan& plan = CurrentPlan;
  if (!plan.armed) return false;
  if (plan.name != nullptr && !SameName(plan.name, name)) return false;
  ++plan.matched;
  bool fail = plan.persist ? plan.matched >= plan.nth : plan.matched == plan.nth;
  if (!fail) return false;
  ++plan.fired;
  // A kill is the end of the process: only WriteFile (told by `kind`) can do half its work first.
  if (plan.kind == FaultKind::Kill || (plan.kind == FaultKind::KillMidWrite && kind == nullptr)) {
    raise(SIGKILL);
  }
  if (kind != nullptr) *kind = plan.kind;
  return true;
}

bool IsMonitorClass(LPCSTR className) {
  return className != nullptr && !IS_INTRESOURCE(className) &&
         strcasecmp(className, "DebugMonitor") == 0;
}

}  // namespace

void FaultReset() {
  CurrentPlan = Plan();
  CallLog.clear();
  CallDetails.clear();
  TraceLines.clear();
  CaptureTrace = false;
  ScriptedDialog = false;
  ScriptedAnswers.clear();
  Boxes.clear();
  ShellCalls.clear();
  RenamedPath.clear();
  RenamedTo.clear();
}

void FaultFoundName(const std::string& path, const std::string& name) {
  RenamedPath = path;
  RenamedTo = name;
}

void FaultArm(int nth, const char* name, FaultKind kind, bool persist) {
  CurrentPlan = Plan();
  CurrentPlan.armed = true;
  CurrentPlan.nth = nth;
  CurrentPlan.name = name;
  CurrentPlan.kind = kind;
  CurrentPlan.persist = persist;
}

void FaultDisarm() { CurrentPlan.armed = false; }

int FaultFired() { return CurrentPlan.fired; }

int FaultLiveBuffers() { return LiveBuffers; }

int FaultCalls(const char* name) {
  if (name == nullptr) return static_cast<int>(CallLog.size());
  int count = 0;
  for (const char* call : CallLog) count += SameName(name, call) ? 1 : 0;
  return count;
}

std::vector<std::string> FaultCallLog() { return {CallLog.begin(), CallLog.end()}; }

std::vector<std::string> FaultCallDetails() { return CallDetails; }

void FaultCaptureTrace(bool on) { CaptureTrace = on; }

std::vector<std::string> FaultTraceLines() { return TraceLines; }

void FaultScriptBoxes(std::vector<int> answers) {
  ScriptedDialog = true;
  ScriptedAnswers = std::move(answers);
  Boxes.clear();
  ShellCalls.clear();
}

std::vector<FaultBox> FaultBoxes() { return Boxes; }

std::vector<FaultShellCall> FaultShellCalls() { return ShellCalls; }

int FailEachCallInTurn(const std::function<bool(int n)>& attempt, const std::vector<int>& points) {
  int failed = 0;
  for (size_t i = 0; points.empty() || i < points.size(); i++) {
    const int n = points.empty() ? static_cast<int>(i) + 1 : points[i];
    if (!attempt(n)) break;
    failed++;
    if (::testing::Test::HasFatalFailure()) break;
  }
  return failed;
}

extern "C" {

// The wrappers of the simple calls, from the table; the others follow by hand.
#define WRAPPED_SPECIAL(Name)
#define WRAPPED_SIMPLE(Name, Return, Parameters, Arguments, Path, Failure, Error) \
  Return WINAPI __real_##Name Parameters;                                         \
  Return WINAPI __wrap_##Name Parameters {                                        \
    if (ShouldFail(#Name, nullptr, Path)) {                                       \
      if (Error != 0) SetLastError(Error);                                        \
      return Failure;                                                             \
    }                                                                             \
    return __real_##Name Arguments;                                               \
  }
#include "support/wrapped_calls.def"
#undef WRAPPED_SIMPLE
#undef WRAPPED_SPECIAL

HANDLE WINAPI __real_FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA);
BOOL WINAPI __real_FindClose(HANDLE);
HANDLE WINAPI __real_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL WINAPI __real_WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI __real_SetFileTime(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*);
BOOL WINAPI __real_CloseHandle(HANDLE);
BOOL WINAPI __real_SetFileAttributesA(LPCSTR, DWORD);
HWND WINAPI __real_FindWindowA(LPCSTR, LPCSTR);
LRESULT WINAPI __real_SendMessageA(HWND, UINT, WPARAM, LPARAM);
int WINAPI __real_MessageBoxA(HWND, LPCSTR, LPCSTR, UINT);
HINSTANCE WINAPI __real_ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, int);
UINT WINAPI __real_SetErrorMode(UINT);
LPVOID WINAPI __real_VirtualAlloc(LPVOID, SIZE_T, DWORD, DWORD);
BOOL WINAPI __real_VirtualFree(LPVOID, SIZE_T, DWORD);

LPVOID WINAPI __wrap_VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  if (ShouldFail("VirtualAlloc")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  LPVOID buffer = __real_VirtualAlloc(address, size, type, protect);
  if (buffer) LiveBuffers++;
  return buffer;
}

// A failed release keeps the buffer, as the system would.
BOOL WINAPI __wrap_VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  if (ShouldFail("VirtualFree")) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BOOL released = __real_VirtualFree(address, size, type);
  if (released) LiveBuffers--;
  return released;
}

HANDLE WINAPI __wrap_FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA found) {
  if (ShouldFail("FindFirstFileA", nullptr, path)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE search = __real_FindFirstFileA(path, found);
  if (search != INVALID_HANDLE_VALUE && !RenamedPath.empty() && path && RenamedPath == path) {
    snprintf(found->cFileName, sizeof found->cFileName, "%s", RenamedTo.c_str());
  }
  return search;
}

BOOL WINAPI __wrap_FindClose(HANDLE findHandle) {
  if (ShouldFail("FindClose")) {
    __real_FindClose(findHandle);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return __real_FindClose(findHandle);
}

HANDLE WINAPI __wrap_CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile) {
  char flags[64];
  snprintf(flags, sizeof flags, "0x%X 0x%X %u 0x%X", static_cast<unsigned>(access),
           static_cast<unsigned>(shareMode), static_cast<unsigned>(creationDisposition),
           static_cast<unsigned>(flagsAndAttributes));
  if (ShouldFail("CreateFileA", nullptr, fileName, flags)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return __real_CreateFileA(fileName, access, shareMode, security, creationDisposition,
                            flagsAndAttributes, templateFile);
}

BOOL WINAPI __wrap_WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                             LPOVERLAPPED overlapped) {
  FaultKind kind = FaultKind::Error;
  char count[16];
  snprintf(count, sizeof count, "%u", static_cast<unsigned>(bytesToWrite));
  if (ShouldFail("WriteFile", &kind, nullptr, count)) {
    if (kind == FaultKind::ShortWrite) {
      return __real_WriteFile(file, buffer, bytesToWrite / 2, bytesWritten, overlapped);
    }
    if (kind == FaultKind::KillMidWrite) {
      __real_WriteFile(file, buffer, bytesToWrite / 2, bytesWritten, overlapped);
      raise(SIGKILL);
    }
    if (bytesWritten != nullptr) *bytesWritten = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return __real_WriteFile(file, buffer, bytesToWrite, bytesWritten, overlapped);
}

BOOL WINAPI __wrap_SetFileTime(HANDLE file, const FILETIME* creationTime,
                               const FILETIME* lastAccessTime, const FILETIME* lastWriteTime) {
  // Which of the three times are set: c, a, w for those given, - for those left alone.
  const char given[] = {creationTime != nullptr ? 'c' : '-', lastAccessTime != nullptr ? 'a' : '-',
                        lastWriteTime != nullptr ? 'w' : '-', '\0'};
  if (ShouldFail("SetFileTime", nullptr, nullptr, given)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return __real_SetFileTime(file, creationTime, lastAccessTime, lastWriteTime);
}

BOOL WINAPI __wrap_CloseHandle(HANDLE object) {
  if (ShouldFail("CloseHandle")) {
    __real_CloseHandle(object);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return __real_CloseHandle(object);
}

BOOL WINAPI __wrap_SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  char hex[16];
  snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(attributes));
  if (ShouldFail("SetFileAttributesA", nullptr, fileName, hex)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return __real_SetFileAttributesA(fileName, attributes);
}

HWND WINAPI __wrap_FindWindowA(LPCSTR className, LPCSTR windowName) {
  if (ShouldFail("FindWindowA")) return nullptr;
  if (CaptureTrace && IsMonitorClass(className)) return CaptureWindow;
  return __real_FindWindowA(className, windowName);
}

LRESULT WINAPI __wrap_SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (ShouldFail("SendMessageA")) return 0;
  if (window == CaptureWindow) {
    if (message != WM_SETTEXT) return 0;
    TraceLines.emplace_back(reinterpret_cast<const char*>(lParam));
    return TRUE;
  }
  return __real_SendMessageA(window, message, wParam, lParam);
}

int WINAPI __wrap_MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const bool fail = ShouldFail("MessageBoxA");
  if (fail) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  if (!ScriptedDialog) return fail ? 0 : __real_MessageBoxA(owner, text, caption, type);
  int answer = 0;
  if (!fail) {
    answer = ScriptedAnswers.empty() ? IDNO : ScriptedAnswers.front();
    if (!ScriptedAnswers.empty()) ScriptedAnswers.erase(ScriptedAnswers.begin());
  }
  Boxes.push_back(
      {owner, caption != nullptr ? caption : "", text != nullptr ? text : "", type, answer});
  return answer;
}

HINSTANCE WINAPI __wrap_ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                                      LPCSTR directory, int showCommand) {
  const bool fail = ShouldFail("ShellExecuteA", nullptr, file);
  const INT_PTR result = fail ? 2 : 33;
  if (ScriptedDialog) {
    auto given = [](LPCSTR s) {
      return s != nullptr ? std::optional<std::string>(s) : std::nullopt;
    };
    ShellCalls.push_back({owner, given(operation), given(file), given(parameters), given(directory),
                          showCommand, result});
  }
  if (fail || ScriptedDialog) return reinterpret_cast<HINSTANCE>(result);
  return __real_ShellExecuteA(owner, operation, file, parameters, directory, showCommand);
}

UINT WINAPI __wrap_SetErrorMode(UINT mode) {
  char hex[16];
  snprintf(hex, sizeof hex, "0x%X", mode);
  if (ShouldFail("SetErrorMode", nullptr, nullptr, hex)) return 0;
  return __real_SetErrorMode(mode);
}

}  // extern "C"
