#include "cli/escape.h"

#include <cstddef>

namespace ledger {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHex(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

// The length of the valid UTF-8 sequence at the start of `text` and its code point; 0 when the
// bytes there are no valid sequence (overlong, a surrogate, past U+10FFFF, or cut short).
std::size_t DecodeUtf8(std::string_view text, char32_t& point) {
  const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, point = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, point = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, point = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((at(i) & 0xC0) != 0x80) {
      return 0;
    }
    point = (point << 6) | (at(i) & 0x3F);
  }
  if (point < min || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// C1 controls, and the marks that reorder what a terminal shows.
bool IsControlPoint(char32_t point) {
  return (point >= 0x80 && point <= 0x9F) || point == 0x200E || point == 0x200F ||
         (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

}  // namespace

std::string EscapeForTerminal(std::string_view text, bool quote) {
  std::string escaped;
  escaped.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      char32_t point = 0;
      const std::size_t length = DecodeUtf8(text.substr(i), point);
      if (length == 0) {
        // A stray byte; 0x80 to 0x9F would be a C1 control to a terminal that reads bytes.
        if (byte <= 0x9F) {
          AppendHex(escaped, byte);
        } else {
          escaped += c;
        }
        ++i;
      } else {
        for (std::size_t k = 0; k < length; ++k) {
          if (IsControlPoint(point)) {
            AppendHex(escaped, static_cast<unsigned char>(text[i + k]));
          } else {
            escaped += text[i + k];
          }
        }
        i += length;
      }
      continue;
    }
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendHex(escaped, byte);
    } else if (quote && c == '"') {
      escaped += "\\\"";
    } else {
      escaped += c;
    }
    ++i;
  }
  return escaped;
}

}  // namespace ledger
