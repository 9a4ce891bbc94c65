// dialog-driver: answers the message boxes of another program, as a user would, and records
// what each box said. Used by the end-to-end tests under Wine.
//
//   dialog-driver --log FILE --count N [--answers yes,no,...] [--timeout SECONDS]
//
// Waits for visible top-level windows of class "#32770". For each box in turn it appends one
// line to FILE (written and flushed before the box is answered):
//
//   box caption=HEX text=HEX buttons=ID:HEX;ID:HEX... answer=ID
//
// HEX is the byte string in lower-case hex (empty for ""), as read with the ANSI calls, so in
// the system's ANSI code page; buttons are the visible "Button" children in z-order, with
// their control ids in decimal. A box offering Yes/No takes the next word of --answers (yes,
// no, ok, cancel); a box whose only button is OK is answered with OK without using a word.
// The answer is a click, posted as WM_COMMAND(MAKEWPARAM(id, BN_CLICKED), button): a WM_CLOSE
// would read as Cancel. The driver waits for each box to go away before taking the next.
//
// Exit code: 0 after N boxes were answered and gone; 2 on timeout; 3 when a box cannot be
// answered (no words left, or the wanted button is missing); 1 on bad usage.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Button {
  int id;
  HWND window;
  char text[256];
};

struct Box {
  HWND window;
  char caption[1024];
  char text[4096];
  Button buttons[16];
  int buttonCount;
};

HWND FoundBox;

BOOL CALLBACK FindBoxProc(HWND window, LPARAM) {
  char className[64];
  if (GetClassNameA(window, className, sizeof className) && strcmp(className, "#32770") == 0 &&
      IsWindowVisible(window)) {
    FoundBox = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectButtonProc(HWND child, LPARAM param) {
  Box* box = (Box*)param;
  char className[64];
  if (!GetClassNameA(child, className, sizeof className) || lstrcmpiA(className, "Button") != 0)
    return TRUE;
  if (!IsWindowVisible(child) || box->buttonCount == 16) return TRUE;
  Button* button = &box->buttons[box->buttonCount++];
  button->id = GetDlgCtrlID(child);
  button->window = child;
  GetWindowTextA(child, button->text, sizeof button->text);
  return TRUE;
}

void PrintHex(FILE* out, const char* text) {
  for (const unsigned char* p = (const unsigned char*)text; *p; p++) fprintf(out, "%02x", *p);
}

int AnswerId(const char* word) {
  if (strcmp(word, "yes") == 0) return IDYES;
  if (strcmp(word, "no") == 0) return IDNO;
  if (strcmp(word, "ok") == 0) return IDOK;
  if (strcmp(word, "cancel") == 0) return IDCANCEL;
  return 0;
}

const Button* FindButton(const Box* box, int id) {
  for (int i = 0; i < box->buttonCount; i++)
    if (box->buttons[i].id == id) return &box->buttons[i];
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const char* logPath = nullptr;
  const char* answers = "";
  int count = -1;
  double timeout = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--log") == 0) logPath = argv[i + 1];
    else if (strcmp(argv[i], "--answers") == 0) answers = argv[i + 1];
    else if (strcmp(argv[i], "--count") == 0) count = atoi(argv[i + 1]);
    else if (strcmp(argv[i], "--timeout") == 0) timeout = atof(argv[i + 1]);
    else {
      fprintf(stderr, "dialog-driver: unknown option %s\n", argv[i]);
      return 1;
    }
  }
  if (!logPath || count < 0 || argc % 2 == 0) {
    fprintf(stderr, "usage: dialog-driver --log FILE --count N [--answers yes,no] [--timeout S]\n");
    return 1;
  }
  FILE* log = fopen(logPath, "ab");
  if (!log) {
    fprintf(stderr, "dialog-driver: cannot open %s\n", logPath);
    return 1;
  }

  const DWORD deadline = GetTickCount() + (DWORD)(timeout * 1000);
  auto expired = [&] { return (LONG)(GetTickCount() - deadline) >= 0; };
  const char* nextWord = answers;

  for (int answered = 0; answered < count; answered++) {
    FoundBox = nullptr;
    while (EnumWindows(FindBoxProc, 0), !FoundBox) {
      if (expired()) {
        fprintf(stderr, "dialog-driver: timed out waiting for box %d of %d\n", answered + 1, count);
        return 2;
      }
      Sleep(50);
    }
    // A box turns visible at the end of its initialisation; a short pause lets its owner's
    // thread reach the message loop before we read and click.
    Sleep(200);

    static Box box;
    memset(&box, 0, sizeof box);
    box.window = FoundBox;
    GetWindowTextA(box.window, box.caption, sizeof box.caption);
    GetDlgItemTextA(box.window, 0xFFFF, box.text, sizeof box.text);
    EnumChildWindows(box.window, CollectButtonProc, (LPARAM)&box);

    int answer = 0;
    if (box.buttonCount == 1 && box.buttons[0].id == IDOK) {
      answer = IDOK;
    } else if (*nextWord) {
      char word[16] = {};
      size_t n = strcspn(nextWord, ",");
      if (n < sizeof word) memcpy(word, nextWord, n);
      nextWord += n;
      if (*nextWord == ',') nextWord++;
      answer = AnswerId(word);
    }
    const Button* button = answer ? FindButton(&box, answer) : nullptr;

    fputs("box caption=", log);
    PrintHex(log, box.caption);
    fputs(" text=", log);
    PrintHex(log, box.text);
    fputs(" buttons=", log);
    for (int i = 0; i < box.buttonCount; i++) {
      fprintf(log, "%s%d:", i ? ";" : "", box.buttons[i].id);
      PrintHex(log, box.buttons[i].text);
    }
    fprintf(log, " answer=%d\n", button ? answer : 0);
    fflush(log);

    if (!button) {
      fprintf(stderr, "dialog-driver: box %d cannot be answered\n", answered + 1);
      return 3;
    }
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)button->window);
    while (IsWindow(box.window)) {
      if (expired()) {
        fprintf(stderr, "dialog-driver: box %d did not close\n", answered + 1);
        return 2;
      }
      Sleep(50);
    }
  }
  fclose(log);
  return 0;
}
