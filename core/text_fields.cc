#include "core/text_fields.h"

#include <cstring>

#include "core/byte_words.h"

namespace ledger {

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
