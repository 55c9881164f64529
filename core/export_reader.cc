#include "core/export_reader.h"

#include <cstdint>
#include <cstring>

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

bool ExportReader::TakeWholeLine(ExportLine& line) {
  const char* start = buffer_ + pos_;
  const char* const stop = buffer_ + len_;
  // Lines hold no NUL but in damaged exports: the line feed is usually the first of the two.
  const char* lf = byte_words::FindEither(start, stop, '\n', '\0');
  const char* nul = nullptr;
  if (lf != stop && *lf == '\0') {
    nul = lf;
    lf = static_cast<const char*>(std::memchr(nul, '\n', static_cast<std::size_t>(stop - nul)));
  }
  if (lf == nullptr || lf == stop) {
    return false;
  }
  const std::size_t end = static_cast<std::size_t>(lf - start);
  std::size_t size = end > 0 && start[end - 1] == '\r' ? end - 1 : end;
  if (nul != nullptr) {
    size = static_cast<std::size_t>(nul - start);
    line.hasNul = true;
  }
  line.text = std::string_view(start, size);
  line.endsWithLineFeed = true;
  pos_ += end + 1;
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

ReadResult ExportReader::Next(ExportLine& line) {
  line = ExportLine();
  if ((pos_ < len_ || Fill()) && TakeWholeLine(line)) {
    ++lineNumber_;
    return ReadResult::kLine;
  }
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
  if (EqualsIgnoreAsciiCase(text, "Scouts")) {
    return ScoutsSectionLine::kScoutsMarker;
  }
  if (EqualsIgnoreAsciiCase(text, "Adults")) {
    return ScoutsSectionLine::kAdultsMarker;
  }
  return ScoutsSectionLine::kScout;
}

}  // namespace ledger
