// Message boxes in the terminal. The caption and the text (code page 932) are shown in UTF-8
// on standard output, the buttons as a prompt, and the answer is read as one line from
// standard input. Input is read a byte at a time straight from fd 0, never through stdio, so
// that nothing past the answer's line is consumed: the lines after it stay for a later box
// or for whatever process reads the input next (answers piped in by a script).
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "host/display.h"
#include "platform/extra_calls.h"

// The parts of a box's type that choose its buttons and its icon.
#define MB_TYPEMASK_BITS 0x0000000Fu
#define MB_ICONMASK_BITS 0x000000F0u

// How many unusable answers are asked again before the box is taken as dismissed.
#define MAX_ATTEMPTS 5

typedef struct Button {
  int Id;
  const char* Label;    // shown in the prompt, with its key
  const char* Key;      // one-letter answer
  const char* English;  // whole-word answers
  const char* Japanese;
} Button;

static const Button OkButton = {IDOK, "OK(O)", "o", "ok", "OK"};
static const Button YesButton = {IDYES, "はい(Y)", "y", "yes", "はい"};
static const Button NoButton = {IDNO, "いいえ(N)", "n", "no", "いいえ"};

// The buttons of a box, the first being the default (Enter): the two sets the program shows,
// OK alone and Yes/No. `Dismissed` is the answer when input ends or no usable answer comes: No
// for a question, else OK.
typedef struct ButtonSet {
  const Button* Buttons[2];
  int Count;
  int Dismissed;
} ButtonSet;

static ButtonSet ButtonsOf(UINT type) {
  if ((type & MB_TYPEMASK_BITS) == MB_YESNO) return {{&YesButton, &NoButton}, 2, IDNO};
  return {{&OkButton}, 1, IDOK};
}

static const char* IconWordOf(UINT type) {
  switch (type & MB_ICONMASK_BITS) {
    case MB_ICONERROR:
      return "エラー";
    case MB_ICONQUESTION:
      return "確認";
    default:
      return nullptr;
  }
}

static void WriteAll(const char* text, size_t length) {
  while (length) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= (size_t)written;
  }
}

static void WriteText(const char* text) { WriteAll(text, strlen(text)); }

// Reads one line from fd 0 up to and including its line feed, keeping at most size - 1 bytes
// of it (the rest of a long line is read and dropped), without the line feed and a carriage
// return before it. 0 when input ends before any byte.
static int ReadAnswerLine(char* line, size_t size) {
  size_t used = 0;
  int gotAny = 0;
  for (;;) {
    char b;
    ssize_t got = read(STDIN_FILENO, &b, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    gotAny = 1;
    if (b == '\n') break;
    if (used + 1 < size) line[used++] = b;
  }
  if (used && line[used - 1] == '\r') used--;
  line[used] = '\0';
  return gotAny;
}

// The answer without surrounding blanks.
static char* Trimmed(char* line) {
  char* start = line;
  while (*start == ' ' || *start == '\t') start++;
  size_t length = strlen(start);
  while (length && (start[length - 1] == ' ' || start[length - 1] == '\t')) start[--length] = '\0';
  return start;
}

// The button an answer names, the default for an empty one, or 0.
static int ButtonAnswered(const ButtonSet* set, const char* answer) {
  if (!answer[0]) return set->Buttons[0]->Id;
  for (int i = 0; i < set->Count; i++) {
    const Button* button = set->Buttons[i];
    if (strcasecmp(answer, button->Key) == 0 || strcasecmp(answer, button->English) == 0 ||
        strcmp(answer, button->Japanese) == 0)
      return button->Id;
  }
  return 0;
}

// An answer as typed (UTF-8, from the terminal's side), with control bytes shown as '?'.
static void WriteEcho(const char* answer) {
  char echo[256];
  size_t length = 0;
  for (; answer[length] && length + 1 < sizeof echo; length++) {
    unsigned char b = (unsigned char)answer[length];
    echo[length] = b < 0x20 || b == 0x7F ? '?' : (char)b;
  }
  echo[length++] = '\n';
  WriteAll(echo, length);
}

static void WritePrompt(const ButtonSet* set) {
  for (int i = 0; i < set->Count; i++) {
    if (i) WriteText("/");
    WriteText(set->Buttons[i]->Label);
  }
  WriteText(" [");
  WriteText(set->Buttons[0]->Key);
  WriteText("]: ");
}

extern "C" int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  // Whatever the program printed through stdio goes out before the box.
  fflush(stdout);

  char shown[4096];
  WriteText("\n[");
  const char* captionText = caption ? caption : "Error";  // Windows' caption when none is given
  WriteAll(shown, HostAnsiToDisplay(captionText, strlen(captionText), 0, shown, sizeof shown));
  WriteText("]\n");
  const char* icon = IconWordOf(type);
  if (icon) {
    WriteText(icon);
    WriteText(": ");
  }
  const char* body = text ? text : "";
  WriteAll(shown, HostAnsiToDisplay(body, strlen(body), 1, shown, sizeof shown));
  WriteText("\n");

  ButtonSet set = ButtonsOf(type);
  int interactive = isatty(STDIN_FILENO);
  if (set.Count == 1 && !interactive) {
    // Nothing to choose and nobody at a keyboard: the box is shown and taken as read.
    WriteText("[OK]\n");
    return IDOK;
  }

  for (int attempt = 0; attempt < MAX_ATTEMPTS; attempt++) {
    if (set.Count == 1) WriteText("[Enter]: ");
    else WritePrompt(&set);
    char line[256];
    if (!ReadAnswerLine(line, sizeof line)) {
      WriteText(interactive ? "\n" : "(入力なし)\n");
      return set.Dismissed;
    }
    // Piped answers are echoed so that a log shows what each box was answered.
    char* answer = Trimmed(line);
    if (!interactive) WriteEcho(answer);
    if (set.Count == 1) return IDOK;
    int id = ButtonAnswered(&set, answer);
    if (id) return id;
    WriteText("答えが分かりません。もう一度入力してください。\n");
  }
  return set.Dismissed;
}
