// The field rule written out the long way, as the fields were first cut: into a zeroed table of
// NUL-terminated slots, with the byte helpers it was built from. The product cuts fields with
// SplitFieldViews alone; tests check it, and the records it builds, against this.
#ifndef LEDGER_TESTS_CORE_REFERENCE_FIELDS_H_
#define LEDGER_TESTS_CORE_REFERENCE_FIELDS_H_

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "core/records.h"
#include "core/text_fields.h"

namespace ledger {

// The fields of one member line: slot k holds field k, NUL-terminated, at most 99 bytes.
struct FieldTable {
  char bytes[kMaxFields * kFieldWidth];

  // Field k as a NUL-terminated string.
  const char* Field(int k) const { return bytes + k * kFieldWidth; }
  char* Slot(int k) { return bytes + k * kFieldWidth; }
};

namespace reference {

// True when `c` is one of the bytes of the NUL-terminated `set` (its terminator does not count).
inline bool IsCharInSet(char c, const char* set) {
  for (; *set != '\0'; ++set) {
    if (*set == c) {
      return true;
    }
  }
  return false;
}

// Replaces, in place, each byte of the NUL-terminated `buffer` found in `from` by the byte of `to`
// at the same index; the length is taken once, so bytes after a written NUL are still visited.
inline void ReplaceChars(char* buffer, const char* from, const char* to) {
  const std::size_t length = std::strlen(buffer);
  for (std::size_t i = 0; i < length; ++i) {
    // A NUL written earlier never matches: `from` is searched up to its terminator only.
    const char* hit = buffer[i] == '\0' ? nullptr : std::strchr(from, buffer[i]);
    if (hit != nullptr) {
      buffer[i] = to[hit - from];
    }
  }
}

// `text` without its leading bytes from `leadingSet` and then its trailing bytes from
// `trailingSet`; a view into `text`.
inline std::string_view TrimChars(std::string_view text, const char* trailingSet,
                                  const char* leadingSet) {
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

// Cuts `line` at the bytes of `delimiters` into `table` (maxFields slots of `width` bytes, zeroed
// first), keeping width - 1 bytes of each field with its trailing blanks removed; returns the
// number of fields stored.
inline int SplitFields(int maxFields, int width, std::string_view line, char* table,
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

}  // namespace reference

using reference::IsCharInSet;
using reference::ReplaceChars;
using reference::SplitFields;
using reference::TrimChars;

// The conversion's split into a table: 20 fields of at most 99 bytes, TAB the only delimiter.
inline int SplitFields(std::string_view line, FieldTable& table) {
  return reference::SplitFields(kMaxFields, kFieldWidth, line, table.bytes, "\t");
}

// The fields of a table as views, each up to its terminator.
inline FieldViews ViewsOf(const FieldTable& table) {
  FieldViews views;
  for (int k = 0; k < kMaxFields; ++k) {
    views.field[k] = std::string_view(table.Field(k), std::strlen(table.Field(k)));
  }
  return views;
}

// Builds `record` from the table's views with `build`, then again from padded views of a copy
// that stale bytes follow, as the reader's views may, and fails when the two records differ.
template <class Record>
void BuildBothWays(const FieldTable& fields, Record& record,
                   void (*build)(const FieldViews&, Record&)) {
  build(ViewsOf(fields), record);
  struct {
    FieldTable table;
    char slack[kViewSlack];
  } copy;
  std::memset(&copy, 0x55, sizeof copy);
  copy.table = fields;
  FieldViews padded = ViewsOf(copy.table);
  padded.padded = true;
  Record word;
  std::memset(word.bytes, 0xAA, sizeof word.bytes);
  build(padded, word);
  for (std::size_t i = 0; i < sizeof word.bytes; ++i) {
    ASSERT_EQ(record.bytes[i], word.bytes[i]) << "byte " << i << " from padded views";
  }
}

inline void BuildScoutRecord(const FieldTable& fields, ScoutRecord& record) {
  BuildBothWays<ScoutRecord>(fields, record, &BuildScoutRecord);
}

inline void BuildAdultRecord(const FieldTable& fields, AdultRecord& record) {
  BuildBothWays<AdultRecord>(fields, record, &BuildAdultRecord);
}

}  // namespace ledger

#endif  // LEDGER_TESTS_CORE_REFERENCE_FIELDS_H_
