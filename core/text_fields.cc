#include "core/text_fields.h"

#include <cstring>

#include "core/byte_words.h"

namespace ledger {

bool IsCharInSet(char c, const char* set) {
  for (; *set != '\0'; ++set) {
    if (*set == c) {
      return true;
    }
  }
  return false;
}

void ReplaceChars(char* buffer, const char* from, const char* to) {
  const std::size_t length = std::strlen(buffer);
  for (std::size_t i = 0; i < length; ++i) {
    // A NUL written earlier never matches: `from` is searched up to its terminator only.
    const char* hit = buffer[i] == '\0' ? nullptr : std::strchr(from, buffer[i]);
    if (hit != nullptr) {
      buffer[i] = to[hit - from];
    }
  }
}

std::string_view TrimChars(std::string_view text, const char* trailingSet, const char* leadingSet) {
  std::size_t left = 0;
  std::size_t right = text.size();  // one past the last byte kept
  while (left < right && IsCharInSet(text[left], leadingSet)) {
    ++left;
  }
  while (right > left && IsCharInSet(text[right - 1], trailingSet)) {
    --right;
  }
  return text.substr(left, right - left);
}

int SplitFields(int maxFields, int width, std::string_view line, char* table,
                const char* delimiters) {
  if (maxFields <= 0 || width <= 0) {
    return 0;
  }
  std::memset(table, 0, static_cast<std::size_t>(maxFields) * static_cast<std::size_t>(width));
  const std::size_t keep = static_cast<std::size_t>(width) - 1;
  std::size_t pos = 0;
  int count = 0;
  while (count < maxFields && pos <= line.size()) {
    char* slot = table + static_cast<std::size_t>(count) * static_cast<std::size_t>(width);
    std::size_t end = pos;
    while (end < line.size() && !IsCharInSet(line[end], delimiters)) {
      ++end;
    }
    const std::string_view field = KeepFieldBytes(line.substr(pos, end - pos), keep);
    std::memcpy(slot, field.data(), field.size());
    pos = end + 1;
    ++count;
  }
  return count;
}

int SplitFieldViews(std::string_view line, FieldViews& views) {
  const char* p = line.data();
  const char* const end = p + line.size();
  int count = 0;
  for (;;) {
    const char* fieldEnd = byte_words::Find(p, end, '\t');
    views.field[count++] =
        KeepFieldBytes(std::string_view(p, static_cast<std::size_t>(fieldEnd - p)));
    if (fieldEnd == end || count == kMaxFields) {
      break;
    }
    p = fieldEnd + 1;
  }
  for (int k = count; k < kMaxFields; ++k) {
    views.field[k] = std::string_view();
  }
  return count;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z')
      x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) {
      return false;
    }
  }
  return true;
}

}  // namespace ledger
