// Failing platform calls on demand, for the host-tests program.
//
// That program is linked with -Wl,--wrap=Name for every platform call the updater makes (the
// list, with the answer each call gives when it fails, is support/wrapped_calls.def), so each
// call from the code under test lands in a __wrap_Name of faults.cpp. The wrapper logs the call,
// and either passes it on to the real function or, when an armed fault matches, answers the way
// Windows answers that call when it fails. The hand-written ones:
//
//   CreateFileA, SetFileAttributesA, SetFileTime  INVALID_HANDLE_VALUE or FALSE,
//                                               ERROR_ACCESS_DENIED
//   WriteFile                                   FALSE, ERROR_DISK_FULL, 0 bytes written; or with
//                                               FaultKind::ShortWrite: half the bytes really
//                                               written and TRUE with that smaller count
//   FindFirstFileA                              INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND; and
//                                               FaultFoundName renames what it finds
//   FindClose, CloseHandle                      the handle is really closed, then FALSE,
//                                               ERROR_INVALID_HANDLE (a failing close must not
//                                               itself leak what the test counts)
//   FindWindowA                                 NULL
//   SendMessageA                                0 (nothing delivered)
//   MessageBoxA                                 0, ERROR_NOT_ENOUGH_MEMORY
//   ShellExecuteA                               (HINSTANCE)2 (file not found)
//   SetErrorMode                                0, the mode left as it was (the call has no
//                                               failure of its own; this stands for a system
//                                               that ignores it)
//
// Kill and KillMidWrite end the calling process with a real SIGKILL at that point, for tests
// that run the update in a child process and look at what a killed update leaves on the disk.
// Killing just before call n+1 is the same as killing just after call n, since the code under
// test touches nothing between platform calls.
//
// Trace capture: with FaultCaptureTrace(true), FindWindowA("DebugMonitor", ...) answers a
// stand-in window without asking the real layer, and every WM_SETTEXT sent to it is recorded
// (FaultTraceLines) instead of delivered. An armed fault on FindWindowA or SendMessageA still
// wins, so "no monitor" and "a lost line" can be shown too.
//
// Scripted dialog: with FaultScriptBoxes(answers), MessageBoxA shows nothing and answers the
// next of `answers` (IDNO once they are used up), and ShellExecuteA starts nothing and answers
// (HINSTANCE)33; both record what they were asked (FaultBoxes, FaultShellCalls). An armed fault
// on either still wins: the call is recorded with the failure answer, and a failed box uses up
// no scripted answer.
//
// With no fault armed every call is passed on, so the tests that fail nothing run as they would
// without the wrappers. The state is global and not thread-safe; tests call FaultReset() before
// and after (the FaultScope guard does both). Calls a test makes itself through wrapped names are
// counted and logged like any other, so verify results with unwrapped calls (GetFileAttributesA,
// ReadFile) or host calls.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/extra_calls.h"
#include "support/host_files.h"

enum class FaultKind {
  Error,         // the call fails outright
  ShortWrite,    // WriteFile only: succeeds with fewer bytes than asked for
  Kill,          // the process is killed with SIGKILL just before the call is made
  KillMidWrite,  // WriteFile only: half the bytes really written, then SIGKILL (other calls:
                 // as Kill)
};

// No fault armed, counts and logs emptied, trace capture and the scripted dialog off.
void FaultReset();

// Makes the `nth` matching wrapped call from now fail (1 = the very next one). `name` limits
// the match to calls of that function; nullptr matches every wrapped call. With `persist`, every
// matching call after the nth fails as well. Arming replaces an earlier plan and restarts the
// count of matching calls.
void FaultArm(int nth, const char* name = nullptr, FaultKind kind = FaultKind::Error,
              bool persist = false);
void FaultDisarm();

// How many calls the current plan has failed so far.
int FaultFired();

// Buffers from VirtualAlloc not yet given back with VirtualFree (not reset by FaultReset).
int FaultLiveBuffers();

// Wrapped calls since the last FaultReset: of `name`, or of every function for nullptr.
int FaultCalls(const char* name = nullptr);

// Names of the wrapped calls since the last FaultReset, in the order they were made.
std::vector<std::string> FaultCallLog();
// The same calls with their telling arguments: "Name path" for the calls that take a path,
// "SetFileAttributesA path 0x27", "SetErrorMode 0x1", "CreateFileA path access share disposition
// attributes" (hex, hex, decimal, hex), "WriteFile count", "SetFileTime --w" (which of the
// creation, access and write times are given); the bare name for the others.
std::vector<std::string> FaultCallDetails();

// From now until FaultReset, a FindFirstFileA of `path` that finds something reports `name` in
// cFileName, as a FAT disk does for a short alias or a name with trailing dots: the lookup led
// to the file that owns it.
void FaultFoundName(const std::string& path, const std::string& name);

void FaultCaptureTrace(bool on);
std::vector<std::string> FaultTraceLines();

// One MessageBoxA call while the dialog is scripted, with what it answered (0 when it failed).
struct FaultBox {
  HWND owner;
  std::string caption;
  std::string text;
  UINT type;
  int answer;
};

// One ShellExecuteA call while the dialog is scripted; a NULL string argument is nullopt.
struct FaultShellCall {
  HWND owner;
  std::optional<std::string> operation, file, parameters, directory;
  int show;
  INT_PTR result;  // 33, or 2 when it failed
};

// Starts a scripted dialog (replacing an earlier one) with the answers of the boxes to come.
void FaultScriptBoxes(std::vector<int> answers);
std::vector<FaultBox> FaultBoxes();
std::vector<FaultShellCall> FaultShellCalls();

// Fails each wrapped call of a run in turn, as SQLite's fault simulation does: for n = 1, 2, ...
// `attempt(n)` sets the scene afresh, makes the run with its nth call failed (FaultArm(n) or a
// kill there), checks what the run left, and answers whether the fault fired. The loop ends at
// the first run that makes fewer than n calls, or at a fatal test failure. With `points`, only
// those values of n are tried, in order. Answers how many runs had their call failed.
int FailEachCallInTurn(const std::function<bool(int n)>& attempt,
                       const std::vector<int>& points = {});

// Resets on entry and on exit of a scope.
struct FaultScope {
  FaultScope() { FaultReset(); }
  ~FaultScope() { FaultReset(); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
};
