// The updater's entry point and its whole conversation with the user: find the key disk, ask
// before touching it, install the package, report the outcome, offer the product's setup.
// Every box is modal with no owner window; the exit code is 0 on every path.

#include "app/dll_search.h"
#include "app/keydisk.h"
#include "app/messages.h"
#include "fs/paths.h"
#include "package/install.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before any box or shell call loads a DLL by name: none may come from the program's folder.
  // Its result changes nothing below; where it fails, the program runs as it always has.
  RestrictDllSearch();

  // An empty card reader must be passed over silently, not answered by the system's own
  // "no disk in the drive" box.
  SetErrorMode(SEM_FAILCRITICALERRORS);

  char TargetFolder[MAX_PATH];
  if (!FindKeyDisk(TargetFolder)) {
    MessageBoxA(nullptr, NoKeyDiskText, CaptionText, MB_OK | MB_ICONERROR);
    return 0;
  }

  // The confirmation is the fixed text with the drive letter in place of "%c".
  char question[256];
  static_assert(sizeof ConfirmText <= sizeof question, "the confirmation fits its buffer");
  wsprintfA(question, ConfirmText, TargetFolder[0]);
  if (MessageBoxA(nullptr, question, CaptionText, MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;

  if (!InstallPackage(TargetFolder)) {
    MessageBoxA(nullptr, FailedText, CaptionText, MB_OK | MB_ICONERROR);
    return 0;
  }

  if (MessageBoxA(nullptr, DoneText, CaptionText, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    char setup[MAX_PATH];
    if (JoinPath(setup, nullptr, TargetFolder, SetupProgramName)) {
      ShellExecuteA(nullptr, nullptr, setup, nullptr, nullptr, SW_SHOWNORMAL);
    }
  }
  return 0;
}
