#include "core/text_fields.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/byte_words.h"

namespace ledger {

int SplitFieldViews(std::string_view line, FieldViews& views) {
  const char* const begin = line.data();
  const std::size_t size = line.size();
  int count = 0;
  std::size_t start = 0;  // where the field being read begins
  // Ends the field at `tab`; true when it was the last slot.
  const auto endField = [&](std::size_t tab) {
    views.field[count++] = KeepFieldBytes(std::string_view(begin + start, tab - start));
    start = tab + 1;
    return count == kMaxFields;
  };
  // One pass over the line, the TABs of sixteen or eight bytes found at once.
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i tabs = _mm_set1_epi8('\t');
  for (; size - at >= 16; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + at));
    for (unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, tabs)));
         marks != 0; marks &= marks - 1) {
      if (endField(at + static_cast<std::size_t>(__builtin_ctz(marks)))) {
        return count;
      }
    }
  }
#endif
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; size - at >= 8; at += 8) {
    for (std::uint64_t marks = byte_words::MarkBytes(byte_words::Load(begin + at), '\t');
         marks != 0; marks &= marks - 1) {
      if (endField(at + static_cast<std::size_t>(__builtin_ctzll(marks)) / 8)) {
        return count;
      }
    }
  }
#endif
  for (; at < size; ++at) {
    if (begin[at] == '\t' && endField(at)) {
      return count;
    }
  }
  endField(size);
  // Empty views at the line's end: a reader's padding follows them as it follows the line.
  for (int k = count; k < kMaxFields; ++k) {
    views.field[k] = std::string_view(begin + size, 0);
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
