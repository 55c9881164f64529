#ifndef LEDGER_CORE_TEXT_FIELDS_H_
#define LEDGER_CORE_TEXT_FIELDS_H_

#include <cstddef>
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

// Bytes that may be read past the end of each view of padded FieldViews.
inline constexpr std::size_t kViewSlack = 64;

// The fields of one member line as views into the line, with no bytes copied.
struct FieldViews {
  std::string_view field[kMaxFields];  // fields the line does not have are empty
  // Whether each view is followed by kViewSlack readable bytes, whatever they hold, as the
  // export reader's are: a record then takes the views a whole word at a time.
  bool padded = false;
};

// The one rule for cutting a member line: at TABs into at most 20 fields, each cut to 99 bytes
// without its trailing blanks, as views into `line`; returns their number.
int SplitFieldViews(std::string_view line, FieldViews& views);

// ASCII-only case-insensitive equality, independent of any locale.
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace ledger

#endif  // LEDGER_CORE_TEXT_FIELDS_H_
