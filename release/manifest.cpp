// The packer's manifest and UTC times; the grammar is in manifest.h.
#include "release/manifest.h"

#include <stdio.h>

#include "host/calendar.h"
#include "release/release_check.h"
#include "release/system.h"

static const uint64_t TicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
static const int64_t EpochDifference = 11644473600LL;

static bool IsLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

static int DaysInMonth(int64_t year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// Reads exactly `count` decimal digits at `*at`.
static bool Digits(const std::string& text, size_t* at, size_t count, int64_t* value) {
  if (*at + count > text.size()) return false;
  *value = 0;
  for (size_t i = 0; i < count; i++) {
    char c = text[*at + i];
    if (c < '0' || c > '9') return false;
    *value = *value * 10 + (c - '0');
  }
  *at += count;
  return true;
}

static bool Literal(const std::string& text, size_t* at, char c) {
  if (*at >= text.size() || text[*at] != c) return false;
  (*at)++;
  return true;
}

bool ParseUtcTime(const std::string& text, uint64_t* fileTime) {
  size_t at = 0;
  int64_t year, month, day, hour, minute, second;
  if (!Digits(text, &at, 4, &year) || !Literal(text, &at, '-') || !Digits(text, &at, 2, &month) ||
      !Literal(text, &at, '-') || !Digits(text, &at, 2, &day) || !Literal(text, &at, 'T') ||
      !Digits(text, &at, 2, &hour) || !Literal(text, &at, ':') || !Digits(text, &at, 2, &minute) ||
      !Literal(text, &at, ':') || !Digits(text, &at, 2, &second)) {
    return false;
  }
  uint64_t fraction = 0;
  if (Literal(text, &at, '.')) {
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 7) {
      fraction = fraction * 10 + (uint64_t)(text[at] - '0');
      at++;
      digits++;
    }
    if (digits == 0) return false;
    for (; digits < 7; digits++) fraction *= 10;
  }
  if (!Literal(text, &at, 'Z') || at != text.size()) return false;
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, (int)month) ||
      hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  int64_t seconds = HostDaysFromCivil(year, (int)month, (int)day) * 86400 + hour * 3600 +
                    minute * 60 + second + EpochDifference;
  *fileTime = (uint64_t)seconds * TicksPerSecond + fraction;
  return true;
}

std::string FormatUtcTime(uint64_t fileTime) {
  int64_t seconds = (int64_t)(fileTime / TicksPerSecond) - EpochDifference;
  uint64_t fraction = fileTime % TicksPerSecond;
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t inDay = seconds - days * 86400;
  int64_t year;
  int month, day;
  HostCivilFromDays(days, &year, &month, &day);
  char text[64];
  snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%07lluZ", (long long)year, month,
           day, (int)(inDay / 3600), (int)(inDay / 60 % 60), (int)(inDay % 60),
           (unsigned long long)fraction);
  return text;
}

bool FileTimeFromUnix(int64_t seconds, long nanoseconds, uint64_t* fileTime) {
  if (seconds < -EpochDifference) return false;
  *fileTime = (uint64_t)(seconds + EpochDifference) * TicksPerSecond + (uint64_t)nanoseconds / 100;
  return true;
}

uint64_t RoundDownToEvenSecond(uint64_t fileTime) {
  return fileTime - fileTime % (2 * TicksPerSecond);
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

static std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) begin++;
  while (end > begin && IsBlank(text[end - 1])) end--;
  return text.substr(begin, end - begin);
}

static bool ParseAttributes(const std::string& text, uint32_t* attributes) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return false;
  }
  uint32_t value = 0;
  for (size_t i = 2; i < text.size(); i++) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * 16 + (uint32_t)digit;
  }
  *attributes = value;
  return true;
}

// What is wrong with the name as written, or "" when nothing is. The checks run on the UTF-8
// text, where every byte below 0x80 is the ASCII character it looks like.
static std::string SpellingProblem(const std::string& name) {
  if (name.empty()) return "no name";
  if (name[0] == '\\') {
    return "the name begins with a backslash; names are relative to the product folder";
  }
  for (unsigned char c : name) {
    if (c == ':') {
      return "the name has a colon (a drive prefix or a stream); names are relative to the "
             "product folder";
    }
    if (c == '/') return "the name has a slash; levels are separated by backslashes";
    if (c < 0x20 || c == 0x7F) return "the name has a control character";
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
      return std::string("the name has the character ") + (char)c +
             ", which Windows does not allow";
    }
  }
  size_t begin = 0;
  while (true) {
    size_t end = name.find('\\', begin);
    std::string level = name.substr(begin,
                                    end == std::string::npos ? std::string::npos : end - begin);
    if (level.empty()) return "the name has an empty level";
    if (level == "." || level == "..") return "the name has a '" + level + "' level";
    if (level.back() == '.' || level.back() == ' ') {
      return "the level '" + level + "' ends in a dot or a space, which Windows drops";
    }
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return "";
}

std::string CheckEntryName(ManifestEntry* entry, NameSet* names) {
  std::string problem = SpellingProblem(entry->name);
  if (!problem.empty()) return problem + (entry->name.empty() ? "" : ": " + entry->name);
  std::string ansi;
  if (!Utf8ToCodePage932(entry->name, &ansi)) {
    return "the name is not valid UTF-8 or has a character that code page 932 lacks: " +
           entry->name;
  }
  if (ansi.size() > LongestPackageName) {
    return "the name is " + std::to_string(ansi.size()) + " bytes in code page 932; at most " +
           std::to_string(LongestPackageName) + " fit below the product folder";
  }
  entry->ansiName = ansi;
  problem = NameProblem(entry->name, ansi);
  if (problem.empty()) problem = AddName(names, entry->name);
  if (!problem.empty() && problem.find(entry->name) == std::string::npos) {
    problem += ": " + entry->name;
  }
  return problem;
}

// One entry line (trimmed, not a comment): "" with `entry` filled in, or what is wrong with it.
static std::string ParseEntry(const std::string& line, ManifestEntry* entry, NameSet* names) {
  entry->hasTime = false;
  entry->lastWrite = 0;
  size_t gap = 0;
  while (gap < line.size() && !IsBlank(line[gap])) gap++;
  std::string attributes = line.substr(0, gap);
  if (!ParseAttributes(attributes, &entry->attributes)) {
    return "bad attributes '" + attributes + "' (expected 0x and 1 to 8 hex digits)";
  }
  std::string problem = AttributesProblem(entry->attributes);
  if (!problem.empty()) return problem;
  std::string rest = Trim(line.substr(gap));
  size_t lastGap = rest.find_last_of(" \t");
  size_t lastBegin = lastGap == std::string::npos ? 0 : lastGap + 1;
  std::string last = rest.substr(lastBegin);
  int64_t ignored;
  size_t at = 0;
  if (Digits(last, &at, 4, &ignored) && Literal(last, &at, '-') && Digits(last, &at, 2, &ignored) &&
      Literal(last, &at, '-') && Digits(last, &at, 2, &ignored) && Literal(last, &at, 'T')) {
    if (!ParseUtcTime(last, &entry->lastWrite)) {
      return "bad time '" + last + "' (expected YYYY-MM-DDThh:mm:ss[.fffffff]Z, UTC, from 1601 on)";
    }
    problem = TimeProblem(entry->lastWrite);
    if (!problem.empty()) return problem + ": " + last;
    entry->hasTime = true;
    rest = Trim(rest.substr(0, lastBegin));
  }
  entry->name = rest;
  return CheckEntryName(entry, names);
}

bool ParseManifest(const std::string& text, std::vector<ManifestEntry>* entries,
                   std::vector<ManifestProblem>* problems) {
  entries->clear();
  problems->clear();
  NameSet names;
  size_t begin = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) begin = 3;  // a byte order mark some editors write
  int lineNumber = 0;
  while (begin < text.size() && problems->size() < MostManifestProblems) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    lineNumber++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;

    ManifestEntry entry;
    entry.line = lineNumber;
    std::string problem = ParseEntry(line, &entry, &names);
    if (problem.empty()) entries->push_back(entry);
    else problems->push_back({lineNumber, problem});
  }
  return problems->empty();
}

std::string FormatProblems(const std::string& file, const std::vector<ManifestProblem>& problems) {
  std::string text;
  for (const ManifestProblem& problem : problems) {
    text += file + ":" + std::to_string(problem.line) + ": " + problem.message + "\n";
  }
  if (problems.size() >= MostManifestProblems) {
    text += file + ": stopped after " + std::to_string(MostManifestProblems) + " problems\n";
  }
  return text;
}
