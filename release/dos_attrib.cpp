// Reading user.DOSATTRIB; see dos_attrib.h for the forms and where their layout comes from.
#include "release/dos_attrib.h"

#include <stdio.h>
#include <string.h>

namespace {

// Where each version's attrib lies in its structure, and how long the structure's fixed part is.
struct DosInfoLayout {
  unsigned version;
  size_t attribAt;
  size_t size;
};

const DosInfoLayout Layouts[] = {
    {1, 0, 4 + 4 + 8 + 8 + 8 + 8},          // attrib ea_size size alloc create change
    {2, 4, 4 + 4 + 4 + 8 + 8 + 8 + 8 + 8},  // flags attrib ea_size ... write_time (name)
    {3, 4, 4 + 4 + 4 + 8 + 8 + 8 + 8},      // valid_flags attrib ea_size ... change_time
    {4, 4, 4 + 4 + 8 + 8},                  // valid_flags attrib itime create_time
    {5, 4, 4 + 4 + 8},                      // valid_flags attrib create_time
};

size_t AlignUp(size_t offset, size_t to) { return (offset + to - 1) / to * to; }

uint32_t Uint32At(const unsigned char* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

// The first bytes of the value, in hex and as text, for the message.
std::string Shown(const unsigned char* value, size_t size) {
  std::string hex, text;
  size_t shown = size < 16 ? size : 16;
  for (size_t i = 0; i < shown; i++) {
    char two[4];
    snprintf(two, sizeof two, "%s%02X", i ? " " : "", value[i]);
    hex += two;
    text += value[i] >= 0x20 && value[i] < 0x7F ? (char)value[i] : '.';
  }
  return std::to_string(size) + (size == 1 ? " byte" : " bytes") + " (" + hex +
         (shown < size ? " ..." : "") + " \"" + text + "\")";
}

bool IsHexDigit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool DecodeText(const unsigned char* text, size_t length, uint32_t* attributes) {
  if (length > 0 && text[length - 1] == '\n') length--;
  if (length < 3 || length > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return false;
  }
  uint32_t value = 0;
  for (size_t i = 2; i < length; i++) {
    if (!IsHexDigit(text[i])) return false;
    unsigned char c = text[i];
    value = value << 4 | (uint32_t)(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  *attributes = value;
  return true;
}

}  // namespace

bool DecodeDosAttrib(const unsigned char* value, size_t size, uint32_t* attributes,
                     std::string* why) {
  if (size == 0) {
    *why = "user.DOSATTRIB is empty";
    return false;
  }
  const unsigned char* nul = (const unsigned char*)memchr(value, 0, size);
  size_t stringEnd = nul ? (size_t)(nul - value) + 1 : size;
  if (stringEnd >= size) {
    // Nothing after the string: the text form.
    if (DecodeText(value, nul ? size - 1 : size, attributes)) return true;
    *why = "user.DOSATTRIB holds " + Shown(value, size) + ", not 0x and 1 to 8 hex digits";
    if (!(size >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) && size <= 4) {
      std::string hex = "0x";
      for (size_t i = 0; i < size; i++) {
        char two[3];
        snprintf(two, sizeof two, "%02x", value[i]);
        hex += two;
      }
      *why += " (setfattr -v " + hex + " stores those raw bytes; the text needs -v '\"" + hex +
              "\"')";
    }
    return false;
  }

  size_t versionAt = AlignUp(stringEnd, 2), levelAt = versionAt + 2;
  if (levelAt + 2 > size) {
    *why = "user.DOSATTRIB holds " + Shown(value, size) +
           ": a string, then too few bytes for Samba's version and level";
    return false;
  }
  unsigned version = value[versionAt] | value[versionAt + 1] << 8;
  unsigned level = value[levelAt] | value[levelAt + 1] << 8;
  std::string form = "user.DOSATTRIB (Samba's binary form, version " + std::to_string(version) +
                     ")";
  const DosInfoLayout* layout = nullptr;
  for (const DosInfoLayout& known : Layouts) {
    if (known.version == version) layout = &known;
  }
  if (!layout) {
    *why = form + ": not a version Samba defines (1 to 5); " + Shown(value, size);
    return false;
  }
  if (level != version) {
    *why = form + ": its union level is " + std::to_string(level) + "; " + Shown(value, size);
    return false;
  }
  size_t structAt = AlignUp(levelAt + 2, 4);
  if (structAt + layout->size > size) {
    *why = form + ": ends after " + std::to_string(size) + " bytes, its structure needs " +
           std::to_string(structAt + layout->size);
    return false;
  }
  *attributes = Uint32At(value + structAt + layout->attribAt);
  return true;
}
