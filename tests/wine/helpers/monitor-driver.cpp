// monitor-driver: works the DebugMonitor window as the updater and a support person would, for
// the end-to-end tests under Wine. Takes its steps in order from the command line:
//
//   --send FILE          sends each "\n"-ended line of FILE by SendMessageA(WM_SETTEXT), as the
//                        updater does, waiting for each to be taken
//   --command NAME       sends the menu command NAME (copy, select-all, clear, timestamps);
//                        saving is asked by --keys s, since its dialog holds the command
//   --keys KEY,...       brings the monitor to the front and types each key with Ctrl held
//                        (letters, e.g. a,c,s), through SendInput
//   --empty-clipboard    empties the clipboard
//   --clipboard FILE     waits for the monitor to fill the clipboard and writes its CF_TEXT
//                        bytes to FILE
//   --save-as PATH       waits for the monitor's save dialog, gives it PATH and presses Save;
//                        waits for the dialog to go away
//   --scroll top|bottom  scrolls the list as the scroll bar would
//   --state              prints "count top visible extent width": the lines, the first line in
//                        view, how many lines fit, the list's horizontal extent and its width
//   --rect               prints the monitor window's "left top right bottom" on the screen
//
// Every wait is bounded (10 s). Exit code: 0 when every step was done; 2 when there is no
// monitor window; 1 on bad usage, or when a step failed or its wait ran out.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// The command numbers of DebugMonitor's menu.
struct NamedCommand {
  const char* name;
  int id;
};
const NamedCommand Commands[] = {
    {"copy", 102}, {"select-all", 103}, {"clear", 104}, {"timestamps", 105}};
const DWORD WaitMs = 10000;

template <typename Condition>
bool WaitFor(Condition condition) {
  for (DWORD waited = 0; waited < WaitMs; waited += 20) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

HWND List(HWND monitor) { return FindWindowExA(monitor, nullptr, "ListBox", nullptr); }

bool Send(HWND monitor, const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string data;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  size_t start = 0;
  for (size_t end; (end = data.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = data.substr(start, end - start);
    if (!SendMessageA(monitor, WM_SETTEXT, 0, (LPARAM)line.c_str())) return false;
  }
  return true;
}

bool Keys(HWND monitor, const char* keys) {
  SetForegroundWindow(monitor);
  if (!WaitFor([&] { return GetForegroundWindow() == monitor; })) return false;
  for (const char* p = keys; *p; p++) {
    if (*p == ',') continue;
    WORD key = (WORD)(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
    INPUT input[4] = {};
    WORD order[4] = {VK_CONTROL, key, key, VK_CONTROL};
    for (int i = 0; i < 4; i++) {
      input[i].type = INPUT_KEYBOARD;
      input[i].ki.wVk = order[i];
      input[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    if (SendInput(4, input, sizeof input[0]) != 4) return false;
  }
  return true;
}

bool SaveClipboard(HWND monitor, const char* path) {
  if (!WaitFor(
          [&] { return GetClipboardOwner() == monitor && IsClipboardFormatAvailable(CF_TEXT); }))
    return false;
  // The monitor sets the data before it closes the clipboard, which cannot be opened till then.
  if (!WaitFor([] { return OpenClipboard(nullptr) != FALSE; })) return false;
  std::string text;
  HANDLE data = GetClipboardData(CF_TEXT);
  if (const char* bytes = data ? (const char*)GlobalLock(data) : nullptr) {
    text = bytes;
    GlobalUnlock(data);
  }
  CloseClipboard();
  if (!data) return false;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  bool ok = file != INVALID_HANDLE_VALUE &&
            WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr) &&
            written == text.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

struct DialogSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM param) {
  DialogSearch* search = (DialogSearch*)param;
  char className[16];
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner &&
      GetClassNameA(window, className, sizeof className) && strcmp(className, "#32770") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND OwnedDialog(HWND monitor) {
  DialogSearch search = {monitor, nullptr};
  EnumWindows(FindDialogProc, (LPARAM)&search);
  return search.found;
}

bool SaveAs(HWND monitor, const char* path) {
  HWND dialog = nullptr;
  if (!WaitFor([&] { return (dialog = OwnedDialog(monitor)) != nullptr; })) return false;
  // The file name box of the save dialog: a combo box (cmb13) or, in older layouts, an edit
  // control (edt1).
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) name = GetDlgItem(dialog, 0x480);
  HWND save = GetDlgItem(dialog, IDOK);
  if (!name || !save || !SetWindowTextA(name, path)) return false;
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)save);
  return WaitFor([&] { return !IsWindow(dialog); });
}

bool Command(HWND monitor, const char* name) {
  for (const NamedCommand& command : Commands) {
    if (strcmp(command.name, name) == 0) {
      SendMessageA(monitor, WM_COMMAND, MAKEWPARAM(command.id, 0), 0);
      return true;
    }
  }
  return false;
}

bool State(HWND monitor) {
  HWND list = List(monitor);
  if (!list) return false;
  RECT client;
  GetClientRect(list, &client);
  LRESULT height = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
  printf("%ld %ld %ld %ld %ld\n", (long)SendMessageA(list, LB_GETCOUNT, 0, 0),
         (long)SendMessageA(list, LB_GETTOPINDEX, 0, 0),
         (long)(height > 0 ? (client.bottom - client.top) / height : 0),
         (long)SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0),
         (long)(client.right - client.left));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  HWND monitor = nullptr;
  if (!WaitFor([&] { return (monitor = FindWindowA("DebugMonitor", nullptr)) != nullptr; })) {
    fprintf(stderr, "monitor-driver: no DebugMonitor window\n");
    return 2;
  }
  for (int i = 1; i < argc; i++) {
    std::string step = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = false;
    bool takesValue = step != "--empty-clipboard" && step != "--state" && step != "--rect";
    if (takesValue && !value) {
      fprintf(stderr, "monitor-driver: %s needs a value\n", step.c_str());
      return 1;
    }
    if (step == "--send") {
      ok = Send(monitor, value);
    } else if (step == "--command") {
      ok = Command(monitor, value);
    } else if (step == "--keys") {
      ok = Keys(monitor, value);
    } else if (step == "--empty-clipboard") {
      ok = OpenClipboard(nullptr) && EmptyClipboard();
      CloseClipboard();
    } else if (step == "--clipboard") {
      ok = SaveClipboard(monitor, value);
    } else if (step == "--save-as") {
      ok = SaveAs(monitor, value);
    } else if (step == "--scroll") {
      int code = strcmp(value, "top") == 0 ? SB_TOP : strcmp(value, "bottom") == 0 ? SB_BOTTOM : -1;
      ok = code >= 0 && List(monitor);
      if (ok) SendMessageA(List(monitor), WM_VSCROLL, MAKEWPARAM(code, 0), 0);
    } else if (step == "--state") {
      ok = State(monitor);
    } else if (step == "--rect") {
      RECT rect;
      ok = GetWindowRect(monitor, &rect);
      if (ok) printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    } else {
      fprintf(stderr, "monitor-driver: unknown step %s\n", step.c_str());
      return 1;
    }
    if (!ok) {
      fprintf(stderr, "monitor-driver: %s %s failed (error %lu)\n", step.c_str(),
              takesValue ? value : "", GetLastError());
      return 1;
    }
    fflush(stdout);
    if (takesValue) i++;
  }
  return 0;
}
