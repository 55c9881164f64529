#ifndef LEDGER_CORE_TEXT_FIELDS_H_
#define LEDGER_CORE_TEXT_FIELDS_H_

#include <string_view>

namespace ledger {

inline constexpr int kMaxFields = 20;    // fields of a member line that are read
inline constexpr int kFieldWidth = 100;  // bytes of one slot, its terminator included

inline constexpr std::size_t kFieldBytes = kFieldWidth - 1;  // bytes of a field that are read

// The one rule for a field's bytes: its first `keep` bytes, then its trailing blanks removed.
inline std::string_view KeepFieldBytes(std::string_view field, std::size_t keep = kFieldBytes) {
  std::size_t length = field.size() < keep ? field.size() : keep;
  while (length > 0 && field[length - 1] == ' ') {
    --length;
  }
  return field.substr(0, length);
}

// The fields of one member line: slot k holds field k, NUL-terminated, at most 99 bytes.
struct FieldTable {
  char bytes[kMaxFields * kFieldWidth];

  // Field k as a NUL-terminated string.
  const char* Field(int k) const { return bytes + k * kFieldWidth; }
  char* Slot(int k) { return bytes + k * kFieldWidth; }
};

// The fields of one member line as views into the line, with no bytes copied.
struct FieldViews {
  std::string_view field[kMaxFields];  // fields the line does not have are empty
};

// True when `c` is one of the bytes of the NUL-terminated `set` (its terminator does not count).
bool IsCharInSet(char c, const char* set);

// Replaces, in place, each byte of the NUL-terminated `buffer` found in `from` by the byte of `to`
// at the same index; the length is taken once, so bytes after a written NUL are still visited.
void ReplaceChars(char* buffer, const char* from, const char* to);

// `text` without its leading bytes from `leadingSet` and then its trailing bytes from
// `trailingSet`; a view into `text`.
std::string_view TrimChars(std::string_view text, const char* trailingSet, const char* leadingSet);

// Cuts `line` at the bytes of `delimiters` into `table` (maxFields slots of `width` bytes, zeroed
// first), keeping width - 1 bytes of each field with its trailing blanks removed; returns the
// number of fields stored.
int SplitFields(int maxFields, int width, std::string_view line, char* table,
                const char* delimiters);

// The conversion's split: 20 fields of at most 99 bytes, TAB the only delimiter.
inline int SplitFields(std::string_view line, FieldTable& table) {
  return SplitFields(kMaxFields, kFieldWidth, line, table.bytes, "\t");
}

// Cuts `line` at TABs into the fields the conversion's SplitFields stores (at most 20, each cut to
// 99 bytes without its trailing blanks), as views into `line`; returns their number.
int SplitFieldViews(std::string_view line, FieldViews& views);

// ASCII-only case-insensitive equality, independent of any locale.
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace ledger

#endif  // LEDGER_CORE_TEXT_FIELDS_H_
