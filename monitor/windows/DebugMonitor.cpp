// DebugMonitor: the window the updater's trace lines are sent to, for a support person to read,
// copy and save. A top-level window of class "DebugMonitor" whose list box shows every line
// received by WM_SETTEXT (ANSI text, so code page 932 on a Japanese system); each line is taken
// before the message is answered, since the sender waits on it.
//
//   DebugMonitor [/append FILE] [/timestamps]        ("--append", "--timestamps" too)
//
// The window keeps the received bytes of every line, so that what is copied (Ctrl+C, the
// selected lines or, with none selected, all of them; Ctrl+A selects all) and what is saved
// (Ctrl+S) are those bytes, each line ended by CRLF, not a round trip through the list box's
// own text. Clear empties the window. With time stamps on, each line that arrives afterwards
// starts with the local time of its arrival (HH:MM:SS.mmm), in the window, the copy and the
// saved file alike. While the user has scrolled away from the last line, arriving lines leave
// the view where it is; at the last line, the view follows.
//
// With /append FILE each line's received bytes (no time stamp) plus a single "\n" are also
// appended to FILE before the message is answered, so a test can read the line as soon as the
// sender has moved on. FILE is opened (created empty if need be) once the window exists: its
// appearance tells a test the monitor is ready to receive. When it cannot be opened, a box
// says so and the monitor ends with exit code 1.
#include <windows.h>
#include <commdlg.h>

#include "app/dll_search.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

enum Command {
  CommandSave = 100,
  CommandExit,
  CommandCopy,
  CommandSelectAll,
  CommandClear,
  CommandTimestamps,
};

const int ListId = 1;
const char Title[] = "DebugMonitor";

struct Monitor {
  HWND list = nullptr;
  HMENU viewMenu = nullptr;
  HANDLE appendFile = INVALID_HANDLE_VALUE;
  bool timestamps = false;
  int widest = 0;                  // the horizontal extent of the list, in pixels
  std::vector<std::string> lines;  // the bytes of each list item, in the same order
};

Monitor* MonitorOf(HWND window) { return (Monitor*)GetWindowLongPtrA(window, GWLP_USERDATA); }

void AppendBytes(HANDLE file, const char* bytes, DWORD length) {
  DWORD written = 0;
  // The file is opened for appending only, so every write lands at the end; WriteFile hands
  // the bytes to the system at once (no user-space buffer), which is what "flushed" needs here.
  while (length > 0 && WriteFile(file, bytes, length, &written, nullptr) && written > 0) {
    bytes += written;
    length -= written;
  }
}

void ShowError(HWND owner, const std::string& what) {
  char reason[512] = "";
  DWORD error = GetLastError();
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                      reason, sizeof reason, nullptr))
    snprintf(reason, sizeof reason, "error %lu", (unsigned long)error);
  std::string text = what + "\n" + reason;
  MessageBoxA(owner, text.c_str(), Title, MB_OK | MB_ICONERROR);
}

// Widens the list's horizontal extent to `line` as drawn in the list's font.
void FitWidth(Monitor* monitor, const std::string& line) {
  HDC dc = GetDC(monitor->list);
  if (!dc) return;
  HGDIOBJ font = (HGDIOBJ)SendMessageA(monitor->list, WM_GETFONT, 0, 0);
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SIZE size = {};
  if (GetTextExtentPoint32A(dc, line.data(), (int)line.size(), &size) &&
      size.cx + 8 > monitor->widest) {
    monitor->widest = size.cx + 8;
    SendMessageA(monitor->list, LB_SETHORIZONTALEXTENT, (WPARAM)monitor->widest, 0);
  }
  if (old) SelectObject(dc, old);
  ReleaseDC(monitor->list, dc);
}

// True when the last item is in view (or there is none).
bool AtLastLine(HWND list) {
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  if (count <= 0) return true;
  RECT client;
  GetClientRect(list, &client);
  LRESULT height = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
  if (height <= 0) height = 1;
  LRESULT visible = (client.bottom - client.top) / height;
  if (visible < 1) visible = 1;
  return SendMessageA(list, LB_GETTOPINDEX, 0, 0) + visible >= count;
}

void ReceiveLine(Monitor* monitor, const char* text) {
  std::string line;
  if (monitor->timestamps) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond,
             now.wMilliseconds);
    line = stamp;
  }
  line += text;
  bool follow = AtLastLine(monitor->list);
  LRESULT index = SendMessageA(monitor->list, LB_ADDSTRING, 0, (LPARAM)line.c_str());
  if (index >= 0) {
    monitor->lines.push_back(line);
    FitWidth(monitor, line);
    if (follow) SendMessageA(monitor->list, LB_SETTOPINDEX, (WPARAM)index, 0);
  }
  if (monitor->appendFile != INVALID_HANDLE_VALUE) {
    AppendBytes(monitor->appendFile, text, (DWORD)strlen(text));
    AppendBytes(monitor->appendFile, "\n", 1);
  }
}

// The selected lines (all of them when none is selected), each followed by CRLF.
std::string SelectedText(const Monitor* monitor) {
  std::string text;
  size_t count = monitor->lines.size();
  LRESULT selected = SendMessageA(monitor->list, LB_GETSELCOUNT, 0, 0);
  for (size_t i = 0; i < count; i++) {
    if (selected > 0 && SendMessageA(monitor->list, LB_GETSEL, (WPARAM)i, 0) <= 0) continue;
    text += monitor->lines[i];
    text += "\r\n";
  }
  return text;
}

std::string AllText(const Monitor* monitor) {
  std::string text;
  for (const std::string& line : monitor->lines) text += line + "\r\n";
  return text;
}

void Copy(HWND window, const Monitor* monitor) {
  std::string text = SelectedText(monitor);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!memory) return;
  char* data = (char*)GlobalLock(memory);
  memcpy(data, text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  if (!OpenClipboard(window)) {
    GlobalFree(memory);
    return;
  }
  EmptyClipboard();
  // The clipboard owns the memory once it is set; the system offers it as Unicode text too,
  // converted from the ANSI code page.
  if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
  CloseClipboard();
}

typedef BOOL(WINAPI* GetSaveFileNameCall)(LPOPENFILENAMEA dialog);

// The common dialogs' GetSaveFileNameA, from the system folder's comdlg32.dll by its full path.
// Not imported: the system would load comdlg32 and the DLLs it needs before WinMain runs, where
// nothing restricts the search yet (under Wine that brings comctl32 and uxtheme, looked for
// beside the program first). Null if it cannot be had.
GetSaveFileNameCall SaveDialog() {
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, sizeof path);
  if (length == 0 || length + sizeof "\\comdlg32.dll" > sizeof path) return nullptr;
  lstrcatA(path, "\\comdlg32.dll");
  HMODULE dialogs = LoadLibraryA(path);  // kept for the rest of the run
  FARPROC found = dialogs ? GetProcAddress(dialogs, "GetSaveFileNameA") : nullptr;
  return reinterpret_cast<GetSaveFileNameCall>(reinterpret_cast<void (*)(void)>(found));
}

void Save(HWND window, const Monitor* monitor) {
  GetSaveFileNameCall getSaveFileName = SaveDialog();
  if (!getSaveFileName) {
    ShowError(window, "The dialog to save the lines cannot be shown.");
    return;
  }
  char path[32768] = "trace.txt";
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window;
  dialog.lpstrFilter = "Text (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrDefExt = "txt";
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  // Lines that arrive while the dialog is open are still taken (its loop answers sent
  // messages); the file holds the lines as they are when the user says where.
  if (!getSaveFileName(&dialog)) return;
  std::string text = AllText(monitor);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ShowError(window, std::string("The lines could not be saved to ") + path + ".");
    return;
  }
  const char* bytes = text.data();
  size_t left = text.size();
  DWORD written = 0;
  bool ok = true;
  while (ok && left > 0) {
    DWORD chunk = left > 0x10000000 ? 0x10000000 : (DWORD)left;
    ok = WriteFile(file, bytes, chunk, &written, nullptr) && written > 0;
    bytes += written;
    left -= written;
  }
  DWORD error = GetLastError();
  if (!CloseHandle(file)) ok = false;
  if (!ok) {
    SetLastError(error);
    ShowError(window, std::string("The lines could not all be saved to ") + path + ".");
  }
}

HMENU MakeMenu(Monitor* monitor) {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuA(file, MF_STRING, CommandSave, "&Save lines as...\tCtrl+S");
  AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(file, MF_STRING, CommandExit, "E&xit");
  HMENU edit = CreatePopupMenu();
  AppendMenuA(edit, MF_STRING, CommandCopy, "&Copy\tCtrl+C");
  AppendMenuA(edit, MF_STRING, CommandSelectAll, "Select &all\tCtrl+A");
  AppendMenuA(edit, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(edit, MF_STRING, CommandClear, "C&lear");
  HMENU view = CreatePopupMenu();
  AppendMenuA(view, MF_STRING | (monitor->timestamps ? MF_CHECKED : 0), CommandTimestamps,
              "&Time stamps");
  AppendMenuA(bar, MF_POPUP, (UINT_PTR)file, "&File");
  AppendMenuA(bar, MF_POPUP, (UINT_PTR)edit, "&Edit");
  AppendMenuA(bar, MF_POPUP, (UINT_PTR)view, "&View");
  monitor->viewMenu = view;
  return bar;
}

void OnCommand(HWND window, Monitor* monitor, int command) {
  switch (command) {
    case CommandSave:
      Save(window, monitor);
      break;
    case CommandExit:
      DestroyWindow(window);
      break;
    case CommandCopy:
      Copy(window, monitor);
      break;
    case CommandSelectAll:
      SendMessageA(monitor->list, LB_SETSEL, TRUE, -1);
      break;
    case CommandClear:
      SendMessageA(monitor->list, LB_RESETCONTENT, 0, 0);
      monitor->lines.clear();
      monitor->widest = 0;
      SendMessageA(monitor->list, LB_SETHORIZONTALEXTENT, 0, 0);
      break;
    case CommandTimestamps:
      monitor->timestamps = !monitor->timestamps;
      CheckMenuItem(monitor->viewMenu, CommandTimestamps,
                    MF_BYCOMMAND | (monitor->timestamps ? MF_CHECKED : MF_UNCHECKED));
      break;
  }
}

LRESULT CALLBACK MonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Monitor* monitor = MonitorOf(window);
  switch (message) {
    case WM_CREATE: {
      CREATESTRUCTA* create = (CREATESTRUCTA*)lParam;
      monitor = (Monitor*)create->lpCreateParams;
      SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)monitor);
      monitor->list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                                      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP |
                                          LBS_NOINTEGRALHEIGHT | LBS_EXTENDEDSEL | LBS_NOTIFY,
                                      0, 0, 0, 0, window, (HMENU)(INT_PTR)ListId, create->hInstance,
                                      nullptr);
      if (!monitor->list) return -1;
      SendMessageA(monitor->list, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
      return 0;
    }
    case WM_SIZE:
      if (monitor) MoveWindow(monitor->list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_SETFOCUS:
      if (monitor) SetFocus(monitor->list);
      return 0;
    case WM_SETTEXT:
      // The line is ours, not a new title: the default handling would retitle the window.
      if (monitor && lParam) ReceiveLine(monitor, (const char*)lParam);
      return TRUE;
    case WM_COMMAND:
      if (monitor && lParam == 0) OnCommand(window, monitor, LOWORD(wParam));
      return 0;
    case WM_DESTROY:
      // Not when WinMain gives the window up before its loop: the quit would end its box.
      if (monitor) PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The command line's words: blanks separate them, double quotes group them.
std::vector<std::string> Words(const char* commandLine) {
  std::vector<std::string> words;
  const char* p = commandLine;
  for (;;) {
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) break;
    std::string word;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++) {
      if (*p == '"') quoted = !quoted;
      else word += *p;
    }
    words.push_back(word);
  }
  return words;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  // Before the window, its boxes and the Save dialog load DLLs by name: none from its folder.
  RestrictDllSearch();

  Monitor monitor;
  std::string appendPath;
  std::vector<std::string> words = Words(commandLine);
  for (size_t i = 0; i < words.size(); i++) {
    if ((words[i] == "/append" || words[i] == "--append") && i + 1 < words.size())
      appendPath = words[++i];
    else if (words[i] == "/timestamps" || words[i] == "--timestamps") monitor.timestamps = true;
  }

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MonitorProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = "DebugMonitor";
  if (!RegisterClassA(&windowClass)) return 1;

  HMENU menu = MakeMenu(&monitor);
  HWND window = CreateWindowExA(0, "DebugMonitor", Title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 640, 400, nullptr, menu, instance, &monitor);
  if (!window) return 1;

  if (!appendPath.empty()) {
    monitor.appendFile = CreateFileA(appendPath.c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (monitor.appendFile == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      // Gone before the box, so that no line is taken by a monitor that keeps none.
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      DestroyWindow(window);
      SetLastError(error);
      ShowError(nullptr, "The trace lines cannot be appended to " + appendPath + ".");
      return 1;
    }
  }
  ShowWindow(window, show);

  ACCEL keys[] = {
      {FCONTROL | FVIRTKEY, 'C', CommandCopy},
      {FCONTROL | FVIRTKEY, VK_INSERT, CommandCopy},
      {FCONTROL | FVIRTKEY, 'A', CommandSelectAll},
      {FCONTROL | FVIRTKEY, 'S', CommandSave},
  };
  HACCEL accelerators = CreateAcceleratorTableA(keys, sizeof keys / sizeof keys[0]);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (accelerators && TranslateAcceleratorA(window, accelerators, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (accelerators) DestroyAcceleratorTable(accelerators);
  if (monitor.appendFile != INVALID_HANDLE_VALUE) CloseHandle(monitor.appendFile);
  return 0;
}
