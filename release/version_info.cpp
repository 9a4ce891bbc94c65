// Reading, changing and writing a VS_VERSIONINFO resource; see version_info.h. Each block is
// wLength, wValueLength, wType (16 bits each), the key in UTF-16 with its terminating zero, the
// value and the blocks below it, value and blocks each from a 32-bit boundary.
#include "release/version_info.h"

#include <utility>

namespace {

const uint32_t FixedSignature = 0xFEEF04BDu;
const size_t FixedSize = 52;  // VS_FIXEDFILEINFO
const int MaxDepth = 8;

uint16_t U16(const std::string& bytes, size_t at) {
  return (uint16_t)((unsigned char)bytes[at] | (unsigned char)bytes[at + 1] << 8);
}

void PutU16(std::string* bytes, size_t at, uint16_t value) {
  (*bytes)[at] = (char)(value & 0xFF);
  (*bytes)[at + 1] = (char)(value >> 8);
}

void PutU32(std::string* bytes, size_t at, uint32_t value) {
  PutU16(bytes, at, (uint16_t)(value & 0xFFFF));
  PutU16(bytes, at + 2, (uint16_t)(value >> 16));
}

size_t Align4(size_t at) { return (at + 3) & ~(size_t)3; }

// The block at `at`, which must end by `limit`; `*end` is where it ends.
bool ParseNode(const std::string& bytes, size_t at, size_t limit, int depth, VersionNode* node,
               size_t* end, std::string* error) {
  if (depth > MaxDepth) {
    *error = "blocks nested more than " + std::to_string(MaxDepth) + " deep";
    return false;
  }
  if (limit - at < 6) {
    *error = "a block at offset " + std::to_string(at) + " is cut short";
    return false;
  }
  const size_t length = U16(bytes, at), valueLength = U16(bytes, at + 2);
  const uint16_t type = U16(bytes, at + 4);
  if (length < 6 || length > limit - at || type > 1) {
    *error = "the block at offset " + std::to_string(at) + " has length " + std::to_string(length) +
             " and type " + std::to_string(type) + ", which do not fit its place";
    return false;
  }
  *end = at + length;
  size_t p = at + 6;
  node->key.clear();
  for (;; p += 2) {
    if (*end - p < 2) {
      *error = "the key of the block at offset " + std::to_string(at) + " has no end";
      return false;
    }
    char16_t unit = (char16_t)U16(bytes, p);
    if (unit == 0) break;
    node->key += unit;
  }
  p = Align4(p + 2);
  node->text = type == 1;
  const size_t valueSize = node->text ? 2 * valueLength : valueLength;
  if (valueSize > 0 && (p > *end || *end - p < valueSize)) {
    *error = "the value of the block at offset " + std::to_string(at) + " runs past its end";
    return false;
  }
  node->value = valueSize ? bytes.substr(p, valueSize) : std::string();
  node->children.clear();
  for (p = Align4(p + valueSize); p < *end;) {
    VersionNode child;
    size_t childEnd;
    if (!ParseNode(bytes, p, *end, depth + 1, &child, &childEnd, error)) return false;
    node->children.push_back(std::move(child));
    p = Align4(childEnd);
  }
  return true;
}

void WriteNode(const VersionNode& node, std::string* out) {
  const size_t start = out->size();
  out->append(6, '\0');
  for (char16_t unit : node.key) out->append({(char)(unit & 0xFF), (char)(unit >> 8)});
  out->append(2, '\0');
  if (!node.value.empty() || !node.children.empty()) out->resize(Align4(out->size()), '\0');
  out->append(node.value);
  for (const VersionNode& child : node.children) {
    out->resize(Align4(out->size()), '\0');
    WriteNode(child, out);
  }
  PutU16(out, start, (uint16_t)(out->size() - start));
  PutU16(out, start + 2, (uint16_t)(node.text ? node.value.size() / 2 : node.value.size()));
  PutU16(out, start + 4, node.text ? 1 : 0);
}

// `text` as the value of a string, with as many terminating zeros as the string had (one for a
// new string).
void SetText(VersionNode* node, const std::string& text, bool isNew) {
  size_t zeros = isNew ? 1 : 0;
  while (!isNew && node->value.size() >= 2 * (zeros + 1) &&
         U16(node->value, node->value.size() - 2 * (zeros + 1)) == 0) {
    zeros++;
  }
  node->text = true;
  node->value.clear();
  for (char c : text) node->value.append({c, '\0'});
  node->value.append(2 * zeros, '\0');
}

}  // namespace

bool ParseVersionInfo(const std::string& bytes, VersionNode* root, std::string* error) {
  size_t end;
  if (!ParseNode(bytes, 0, bytes.size(), 0, root, &end, error)) {
    *error = "the version resource is not a VS_VERSIONINFO: " + *error;
    return false;
  }
  return true;
}

std::string WriteVersionInfo(const VersionNode& root) {
  std::string out;
  WriteNode(root, &out);
  return out;
}

bool ParseReleaseVersion(const std::string& text, uint16_t numbers[3]) {
  size_t at = 0;
  for (int i = 0; i < 3; i++) {
    if (i > 0 && (at >= text.size() || text[at++] != '.')) return false;
    uint32_t value = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; at++, digits++) {
      value = value * 10 + (uint32_t)(text[at] - '0');
      if (value > 65535) return false;
    }
    if (digits == 0) return false;
    numbers[i] = (uint16_t)value;
  }
  return at == text.size();
}

bool StampVersionInfo(VersionNode* root, const std::string& version, const std::string& digest,
                      std::string* error) {
  uint16_t numbers[3];
  if (!ParseReleaseVersion(version, numbers)) {
    *error = "the version must be x.y.z, each at most 65535: '" + version + "'";
    return false;
  }
  if (root->value.size() < FixedSize ||
      (U16(root->value, 0) | (uint32_t)U16(root->value, 2) << 16) != FixedSignature) {
    *error = "the version resource has no fixed version information";
    return false;
  }
  const uint32_t high = (uint32_t)numbers[0] << 16 | numbers[1], low = (uint32_t)numbers[2] << 16;
  PutU32(&root->value, 8, high);  // dwFileVersionMS, LS, dwProductVersionMS, LS
  PutU32(&root->value, 12, low);
  PutU32(&root->value, 16, high);
  PutU32(&root->value, 20, low);
  size_t tables = 0;
  for (VersionNode& info : root->children) {
    if (info.key != u"StringFileInfo") continue;
    for (VersionNode& table : info.children) {
      tables++;
      const std::pair<const char16_t*, const std::string*> strings[] = {
          {u"FileVersion", &version}, {u"ProductVersion", &version}, {u"PackageSHA256", &digest}};
      for (const auto& wanted : strings) {
        VersionNode* found = nullptr;
        for (VersionNode& string : table.children) {
          if (string.key == wanted.first) found = &string;
        }
        if (found) {
          SetText(found, *wanted.second, false);
        } else {
          VersionNode string;
          string.key = wanted.first;
          SetText(&string, *wanted.second, true);
          table.children.push_back(string);
        }
      }
    }
  }
  if (tables == 0) {
    *error = "the version resource has no string table";
    return false;
  }
  return true;
}
