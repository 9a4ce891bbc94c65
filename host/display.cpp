// Code page 932 text made fit for a terminal: converted character by character so that one
// bad byte costs only itself, and with control bytes escaped so that a trace line cannot move
// the cursor, clear the screen or break into several lines.
#include "host/display.h"

#include <string.h>

#include "host/codepage.h"

static int IsShownAsIs(unsigned char b, int keepLineFeeds) {
  if (b == '\t' || (b == '\n' && keepLineFeeds)) return 1;
  return b >= 0x20 && b < 0x7F;
}

// Appends `piece` if it fits with room left for the NUL; 0 when it does not.
static int Append(char* out, size_t size, size_t* used, const char* piece, size_t length) {
  if (*used + length + 1 > size) return 0;
  memcpy(out + *used, piece, length);
  *used += length;
  return 1;
}

size_t HostAnsiToDisplay(const char* ansi, size_t length, int keepLineFeeds, char* out,
                         size_t size) {
  static const char Hex[] = "0123456789ABCDEF";
  size_t used = 0;
  size_t i = 0;
  while (i < length) {
    unsigned char b = (unsigned char)ansi[i];
    if (b < 0x80) {
      if (IsShownAsIs(b, keepLineFeeds)) {
        if (!Append(out, size, &used, ansi + i, 1)) break;
      } else {
        char escape[4] = {'\\', 'x', Hex[b >> 4], Hex[b & 15]};
        if (!Append(out, size, &used, escape, 4)) break;
      }
      i++;
      continue;
    }
    // One character: a lead byte with its trail byte, or a single byte (half-width kana).
    size_t width = HostIsLeadByte(b) && i + 1 < length && ansi[i + 1] != '\0' ? 2 : 1;
    char character[3] = {ansi[i], width == 2 ? ansi[i + 1] : '\0', '\0'};
    char utf8[8];
    if (HostAnsiToUtf8(character, utf8, sizeof utf8)) {
      if (!Append(out, size, &used, utf8, strlen(utf8))) break;
      i += width;
    } else {
      // Only the first byte is given up: the next one may be a character of its own.
      char escape[4] = {'\\', 'x', Hex[b >> 4], Hex[b & 15]};
      if (!Append(out, size, &used, escape, 4)) break;
      i++;
    }
  }
  out[used] = '\0';
  return used;
}
