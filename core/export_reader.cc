#include "core/export_reader.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/byte_words.h"

namespace ledger {
namespace {

constexpr char kCtrlZ = '\x1A';

// Bytes that end a run of plain text bytes inside a line.
struct SpecialBytes {
  bool is[256] = {};
  constexpr SpecialBytes() {
    for (unsigned char c : {'\n', '\r', '\t', '\0'}) {
      is[c] = true;
    }
  }
};
constexpr SpecialBytes kSpecial;

}  // namespace

bool ExportReader::Fill() {
  if (ended_ || failed_) {
    return false;
  }
  pos_ = 0;
  markedAt_ = kNotMarked;
  len_ = source_.Read(buffer_, kBufferSize);
  if (len_ == 0) {
    (source_.Failed() ? failed_ : ended_) = true;
    return false;
  }
  // Ctrl-Z ends the input: nothing from it on is ever read.
  const char* stop = byte_words::Find(buffer_, buffer_ + len_, kCtrlZ);
  if (stop != buffer_ + len_) {
    len_ = static_cast<std::size_t>(stop - buffer_);
    ended_ = true;
  }
  return len_ > 0;
}

bool ExportReader::NextByte(char& byte) {
  if (pos_ == len_ && !Fill()) {
    return false;
  }
  byte = buffer_[pos_++];
  if (byte == '\r' && (pos_ < len_ || Fill()) && buffer_[pos_] == '\n') {
    byte = '\n';  // CR LF reads as LF
    ++pos_;
  }
  return true;
}

namespace {

// The scan of a line: among the bytes of a block, its TABs and the bytes that end its text (LF,
// NUL), as marks of kMarkBits bits per byte from the lowest.
using Marks = std::uint64_t;
#if defined(__SSE2__)
constexpr std::size_t kScanBytes = 64;
constexpr unsigned kMarkBits = 1;
// The marks of the 16 bytes at `p`, shifted to bytes `kAt` on.
template <int kAt>
inline void Scan16(const char* p, Marks& tabs, Marks& ends) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kAt));
  const Marks tab =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t'))));
  const Marks end = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
      _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_setzero_si128()))));
  tabs |= tab << kAt;
  ends |= end << kAt;
}
inline void Scan(const char* p, Marks& tabs, Marks& ends) {
  tabs = 0;
  ends = 0;
  Scan16<0>(p, tabs, ends);
  Scan16<16>(p, tabs, ends);
  Scan16<32>(p, tabs, ends);
  Scan16<48>(p, tabs, ends);
}
#elif defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr std::size_t kScanBytes = 64;
constexpr unsigned kMarkBits = 1;
// The high bits of the bytes of a word's marks as its low eight bits, the first byte's lowest:
// each lands on a bit of its own in the product's top byte, with no carry between them.
inline Marks GatherMarks(std::uint64_t marks) {
  return ((marks >> 7) * 0x0102040810204080u) >> 56;
}
inline void Scan(const char* p, Marks& tabs, Marks& ends) {
  tabs = 0;
  ends = 0;
  for (int i = 0; i < 8; ++i) {
    const std::uint64_t word = byte_words::Load(p + 8 * i);
    tabs |= GatherMarks(byte_words::MarkBytes(word, '\t')) << (8 * i);
    ends |= GatherMarks(byte_words::MarkBytes(word, '\n') | byte_words::MarkBytes(word, '\0'))
            << (8 * i);
  }
}
#else
constexpr std::size_t kScanBytes = 1;
constexpr unsigned kMarkBits = 1;
inline void Scan(const char* p, Marks& tabs, Marks& ends) {
  tabs = *p == '\t';
  ends = *p == '\n' || *p == '\0';
}
#endif

// The byte of the lowest mark; `marks` is not 0.
inline std::size_t LowestMark(Marks marks) {
#if defined(__GNUC__)
  return static_cast<unsigned>(__builtin_ctzll(marks)) / kMarkBits;
#else
  std::size_t bit = 0;
  for (; (marks & 1) == 0; marks >>= 1) {
    ++bit;
  }
  return bit / kMarkBits;
#endif
}

// The field from `begin` to `end` as KeepFieldBytes keeps it, with one test for the usual field
// that ends in no blank.
inline std::string_view FieldBetween(const char* begin, const char* end) {
  const std::size_t size = static_cast<std::size_t>(end - begin);
  if (size - 1 < kFieldBytes && end[-1] != ' ') {
    return std::string_view(begin, size);
  }
  return KeepFieldBytes(std::string_view(begin, size));
}

}  // namespace

inline void ExportReader::Mark(std::size_t at, std::uint64_t& tabs, std::uint64_t& ends) const {
  Scan(buffer_ + at, tabs, ends);
  if (len_ - at < kScanBytes) {
    const Marks valid = (Marks{1} << ((len_ - at) * kMarkBits)) - 1;
    tabs &= valid;
    ends &= valid;
  }
}

bool ExportReader::TakeWholeLine(ExportLine& line, FieldViews& fields) {
  const char* const start = buffer_ + pos_;
  const char* const stop = buffer_ + len_;
  // One pass over the buffer a block at a time, which its slack lets run past its data: each
  // TAB before the byte that ends the line's text ends a field. The block where a line ends is
  // kept for the next, which mostly begins in it.
  std::size_t at = pos_ - pos_ % kScanBytes;
  Marks blockTabs = tabs_;
  Marks blockEnds = ends_;
  if (at != markedAt_) {
    Mark(at, blockTabs, blockEnds);
  }
  Marks tabs = blockTabs & (~Marks{0} << ((pos_ - at) * kMarkBits));
  Marks ends = blockEnds & (~Marks{0} << ((pos_ - at) * kMarkBits));
  markedAt_ = kNotMarked;
  const char* fieldStart = start;
  std::string_view* field = fields.field;
  std::string_view* const lastField = fields.field + kMaxFields - 1;
  const char* end;
  for (;;) {
    const char* const block = buffer_ + at;
    const Marks first = ends & (0 - ends);
    if (first != 0) {
      tabs &= first - 1;
    }
    for (; tabs != 0; tabs &= tabs - 1) {
      const char* tab = block + LowestMark(tabs);
      *field = FieldBetween(fieldStart, tab);
      fieldStart = tab + 1;
      if (field++ == lastField) {
        break;
      }
    }
    if (field > lastField) {
      // Nothing after the last slot's TAB is a field: only the text's end is looked for.
      end = byte_words::FindEither(fieldStart, stop, '\n', '\0');
      break;
    }
    if (first != 0) {
      end = block + LowestMark(first);
      markedAt_ = at;
      tabs_ = blockTabs;
      ends_ = blockEnds;
      break;
    }
    at += kScanBytes;
    if (at >= len_) {
      return false;
    }
    Mark(at, blockTabs, blockEnds);
    tabs = blockTabs;
    ends = blockEnds;
  }
  if (end == stop) {
    return false;
  }
  const char* lf = end;
  const char* textEnd = end;
  if (*end == '\0') {
    lf = byte_words::Find(end + 1, stop, '\n');
    if (lf == stop) {
      return false;
    }
    line.hasNul = true;
  } else if (end > start && end[-1] == '\r') {
    --textEnd;  // CR LF reads as LF
  }
  if (field <= lastField) {
    *field++ = FieldBetween(fieldStart, textEnd);
  }
  for (; field <= lastField; ++field) {
    *field = std::string_view(textEnd, 0);
  }
  fields.padded = true;
  line.text = std::string_view(start, static_cast<std::size_t>(textEnd - start));
  line.endsWithLineFeed = true;
  pos_ = static_cast<std::size_t>(lf - buffer_) + 1;
  return true;
}

ReadResult ExportReader::ReadHeader(std::string_view header) {
  headerFault_ = FormatFault::kNone;
  std::size_t matched = 0;
  char byte;
  while (NextByte(byte)) {
    if (matched == header.size()) {
      if (byte != '\n') {
        headerFault_ = FormatFault::kNotTheHeader;
        return ReadResult::kEnd;
      }
      lineNumber_ = 1;
      return ReadResult::kLine;
    }
    if (byte != header[matched++]) {
      headerFault_ = matched == 1 ? FirstByteFault(static_cast<unsigned char>(byte))
                                  : FormatFault::kNotTheHeader;
      return ReadResult::kEnd;
    }
  }
  if (failed_) {
    return ReadResult::kError;
  }
  headerFault_ = matched == 0               ? FormatFault::kEmpty
                 : matched == header.size() ? FormatFault::kNoLineFeed
                                            : FormatFault::kNotTheHeader;
  return ReadResult::kEnd;
}

FormatFault ExportReader::FirstByteFault(unsigned char first) {
  // A byte-order mark is told by the bytes after the first, which no header byte begins.
  const auto next = [this](unsigned char expected) {
    char byte;
    return NextByte(byte) && static_cast<unsigned char>(byte) == expected;
  };
  if ((first == 0xEF && next(0xBB) && next(0xBF))) {
    return FormatFault::kUtf8Bom;
  }
  if ((first == 0xFF && next(0xFE)) || (first == 0xFE && next(0xFF))) {
    return FormatFault::kUtf16;
  }
  return FormatFault::kNotTheHeader;
}

ReadResult ExportReader::Next(ExportLine& line, FieldViews& fields) {
  line = ExportLine();
  if ((pos_ < len_ || Fill()) && TakeWholeLine(line, fields)) {
    ++lineNumber_;
    return ReadResult::kLine;
  }
  return NextByBytes(line, fields);
}

ReadResult ExportReader::NextByBytes(ExportLine& line, FieldViews& fields) {
  std::size_t n = 0;
  int field = 0;
  std::size_t fieldLength = 0;
  bool inText = true;
  bool any = false;
  char byte;
  while (NextByte(byte)) {
    any = true;
    if (byte == '\n') {
      line.endsWithLineFeed = true;
      break;
    }
    if (!inText) {
      // Nothing more of this line counts: skip to its line feed a buffer at a time.
      const void* lf = std::memchr(buffer_ + pos_, '\n', len_ - pos_);
      if (lf != nullptr) {
        pos_ = static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_) + 1;
        line.endsWithLineFeed = true;
        break;
      }
      pos_ = len_;
      continue;
    }
    if (byte == '\0') {
      inText = false;
      line.hasNul = true;
    } else if (byte == '\t') {
      if (field + 1 == kMaxFields) {
        inText = false;  // fields after the last slot are ignored
      } else {
        ++field;
        fieldLength = 0;
        text_[n++] = byte;
      }
    } else if (byte == '\r') {
      if (fieldLength < kFieldBytes) {
        text_[n++] = byte;
        ++fieldLength;
      }
    } else {
      // A plain byte straight from the buffer: take the whole run of plain bytes it starts.
      const std::size_t start = pos_ - 1;
      std::size_t end = pos_;
      while (end < len_ && !kSpecial.is[static_cast<unsigned char>(buffer_[end])]) {
        ++end;
      }
      const std::size_t room = kFieldBytes - fieldLength;
      const std::size_t take = end - start < room ? end - start : room;
      std::memcpy(text_ + n, buffer_ + start, take);
      n += take;
      fieldLength += take;
      pos_ = end;
    }
  }
  if (failed_) {
    return ReadResult::kError;
  }
  if (!any) {
    return ReadResult::kEnd;
  }
  line.text = std::string_view(text_, n);
  SplitFieldViews(line.text, fields);
  fields.padded = true;
  ++lineNumber_;
  return ReadResult::kLine;
}

namespace {

// Adds the line feeds of [p, end) before the first Ctrl-Z to `lines`; true when it met one. A
// chunk a call: V8 runs a WebAssembly function in its first, quick-to-make code until the
// function is called again, so one call over the whole export would never run optimised there.
[[gnu::noinline]] bool CountLinesOfChunk(const char* p, const char* end, std::size_t& lines) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; end - p >= 8; p += 8) {
    const std::uint64_t word = byte_words::Load(p);
    const std::uint64_t feeds = byte_words::MarkBytes(word, '\n');
    if (const std::uint64_t stop = byte_words::MarkBytes(word, kCtrlZ)) {
      // The marks of the bytes before the first Ctrl-Z lie below its own.
      lines += static_cast<std::size_t>(__builtin_popcountll(feeds & ((stop & (0 - stop)) - 1)));
      return true;
    }
    lines += static_cast<std::size_t>(__builtin_popcountll(feeds));
  }
#endif
  for (; p < end; ++p) {
    if (*p == kCtrlZ) {
      return true;
    }
    lines += *p == '\n';
  }
  return false;
}

}  // namespace

std::size_t CountExportLines(std::string_view bytes) {
  constexpr std::size_t kChunk = 64 * 1024;
  std::size_t lines = 1;
  for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
    const std::size_t size = bytes.size() - at < kChunk ? bytes.size() - at : kChunk;
    if (CountLinesOfChunk(bytes.data() + at, bytes.data() + at + size, lines)) {
      break;
    }
  }
  return lines;
}

ScoutsSectionLine ClassifyScoutsSectionLine(std::string_view text) {
  if (text.size() != 6) {
    return ScoutsSectionLine::kScout;  // the length of both markers
  }
  if (EqualsIgnoreAsciiCase(text, "Scouts")) {
    return ScoutsSectionLine::kScoutsMarker;
  }
  if (EqualsIgnoreAsciiCase(text, "Adults")) {
    return ScoutsSectionLine::kAdultsMarker;
  }
  return ScoutsSectionLine::kScout;
}

}  // namespace ledger
