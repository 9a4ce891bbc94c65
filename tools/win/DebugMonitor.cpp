// DebugMonitor: the window the updater's trace lines are sent to. A top-level window of class
// "DebugMonitor" whose list box shows every line received by WM_SETTEXT (ANSI text, so code page
// 932 on a Japanese system). With "/append FILE" (or "--append FILE") each line's bytes plus a
// single "\n" are also appended to FILE before the message is answered, so a test can read the
// line as soon as the sender has moved on. FILE is created (empty) once the window exists: its
// appearance tells a test the monitor is ready to receive.
#include <windows.h>

#include <string.h>

static HWND List;
static HANDLE AppendFile = INVALID_HANDLE_VALUE;

static void AppendBytes(const char* bytes, DWORD length) {
  DWORD written = 0;
  // The file is opened for appending only, so every write lands at the end; WriteFile hands
  // the bytes to the system at once (no user-space buffer), which is what "flushed" needs here.
  while (length > 0 && WriteFile(AppendFile, bytes, length, &written, nullptr) && written > 0) {
    bytes += written;
    length -= written;
  }
}

static LRESULT CALLBACK MonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      List = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0,
                             window, nullptr, ((CREATESTRUCTA*)lParam)->hInstance, nullptr);
      return List ? 0 : -1;
    case WM_SIZE:
      MoveWindow(List, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_SETTEXT: {
      // The line is ours, not a new title: the default handling would retitle the window.
      const char* line = (const char*)lParam;
      if (!line) return TRUE;
      LRESULT index = SendMessageA(List, LB_ADDSTRING, 0, (LPARAM)line);
      if (index >= 0) SendMessageA(List, LB_SETTOPINDEX, (WPARAM)index, 0);
      if (AppendFile != INVALID_HANDLE_VALUE) {
        AppendBytes(line, (DWORD)strlen(line));
        AppendBytes("\n", 1);
      }
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  (void)wParam;
  return DefWindowProcA(window, message, wParam, lParam);
}

// The file named after /append or --append in the command line, or "" (quotes allowed).
static void AppendOption(const char* commandLine, char* out, size_t size) {
  out[0] = '\0';
  const char* p = strstr(commandLine, "/append ");
  if (!p) p = strstr(commandLine, "--append ");
  if (!p) return;
  p = strchr(p, ' ');
  while (*p == ' ') p++;
  char end = ' ';
  if (*p == '"') {
    end = '"';
    p++;
  }
  size_t n = 0;
  while (p[n] && p[n] != end && n + 1 < size) n++;
  memcpy(out, p, n);
  out[n] = '\0';
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MonitorProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = "DebugMonitor";
  if (!RegisterClassA(&windowClass)) return 1;

  HWND window = CreateWindowExA(0, "DebugMonitor", "DebugMonitor", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 640, 400, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);

  char path[MAX_PATH];
  AppendOption(commandLine, path, sizeof path);
  if (path[0]) {
    AppendFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (AppendFile == INVALID_HANDLE_VALUE) return 1;
  }

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (AppendFile != INVALID_HANDLE_VALUE) CloseHandle(AppendFile);
  return 0;
}
