#ifndef LEDGER_CORE_EXPORT_READER_H_
#define LEDGER_CORE_EXPORT_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "core/byte_source.h"
#include "core/notice.h"
#include "core/text_fields.h"

namespace ledger {

// The first line of every export, ended by a line feed (or CR LF).
inline constexpr char kExportHeader[] = "LedgerExport";

// One line of the export file as the conversion sees it.
struct ExportLine {
  // The line's text: its bytes before the line feed or the first NUL. A line that does not lie
  // whole in the read buffer comes with each TAB-separated field cut to kFieldWidth - 1 bytes
  // and nothing after the kMaxFields-th field, so that memory stays bounded; splitting it gives
  // the same fields as splitting the whole text, and it equals a short word exactly when the
  // whole text does. Valid until the next read.
  std::string_view text;
  bool endsWithLineFeed = false;  // the line was ended by a line feed, not by the input's end
  bool hasNul = false;  // a NUL byte cut the text short (one after the last field may go unseen)
};

enum class ReadResult { kLine, kEnd, kError };

// The most lines a reader gives of the export `bytes`: one more than the line feeds before the
// first Ctrl-Z, which ends the input. A bound of the members, and so of the records, it makes.
std::size_t CountExportLines(std::string_view bytes);

// What a line of the scouts section is. Both section markers match in any ASCII case; a
// "Scouts" line is no member, and in the adults section every line is a member.
enum class ScoutsSectionLine { kScout, kScoutsMarker, kAdultsMarker };

// Classifies `text`, a line read in the scouts section.
ScoutsSectionLine ClassifyScoutsSectionLine(std::string_view text);

// Reads an export file line by line with the same rules on every platform: a CR right before a
// LF is dropped (any other CR stays), a Ctrl-Z byte ends the input, and a line of any length is
// one line. Holds a fixed amount of memory, however long the lines are.
class ExportReader {
 public:
  explicit ExportReader(ByteSource& source) : source_(source) {}
  explicit ExportReader(std::FILE* stream) : file_(stream), source_(file_) {}
  ExportReader(const ExportReader&) = delete;
  ExportReader& operator=(const ExportReader&) = delete;

  // Reads the next line into `line` and its fields, split as SplitFieldViews splits the line's
  // text, into `fields`, whose views are padded; kEnd at the end of the input, kError when the
  // stream failed.
  ReadResult Next(ExportLine& line, FieldViews& fields);

  // Reads the next line into `line` alone.
  ReadResult Next(ExportLine& line) {
    FieldViews fields;
    return Next(line, fields);
  }

  // Reads the first line where it is exactly `header` ended by a line feed: kLine when it is,
  // kEnd when it is not (headerFault() then says why), kError when the stream failed first.
  // Reads at most two bytes past the first one that decides, to tell a byte-order mark, so an
  // endless input without a line feed is judged at once.
  ReadResult ReadHeader(std::string_view header);

  // Why the header read last was refused; kNone after a good one.
  FormatFault headerFault() const { return headerFault_; }

  // The 1-based number of the line read last; a lone CR does not end a line.
  std::size_t lineNumber() const { return lineNumber_; }

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  static constexpr std::size_t kTextSize = kMaxFields * kFieldWidth;

  // Takes the next byte after the line-end rule into `byte`; false at the end or on an error.
  bool NextByte(char& byte);
  // Why a header whose first byte is `first`, not the header's, is refused.
  FormatFault FirstByteFault(unsigned char first);
  bool Fill();
  // Points `line` and `fields` at the next line where it lies whole in the buffer, ended by its
  // LF, in one pass over its bytes; false, with nothing taken, otherwise.
  bool TakeWholeLine(ExportLine& line, FieldViews& fields);
  // Next() for a line that does not lie whole in the buffer, a byte at a time.
  ReadResult NextByBytes(ExportLine& line, FieldViews& fields);
  // Marks the TABs and the ends of text (LF, NUL) of the block of the buffer at `at`.
  void Mark(std::size_t at, std::uint64_t& tabs, std::uint64_t& ends) const;

  static constexpr std::size_t kNotMarked = ~std::size_t{0};

  FileSource file_{nullptr};  // the source of a reader made over a C stream
  ByteSource& source_;
  std::size_t lineNumber_ = 0;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  std::size_t markedAt_ = kNotMarked;  // the block of the buffer that tabs_ and ends_ mark
  std::uint64_t tabs_ = 0;
  std::uint64_t ends_ = 0;
  bool ended_ = false;  // end of input or Ctrl-Z reached
  bool failed_ = false;
  FormatFault headerFault_ = FormatFault::kNone;
  // Each followed by room for a view's slack, which also takes a scan's last block.
  char buffer_[kBufferSize + kViewSlack] = {};
  char text_[kTextSize + kViewSlack] = {};
};

}  // namespace ledger

#endif  // LEDGER_CORE_EXPORT_READER_H_
