// The page's entry points into the conversion core, exported to JavaScript as plain C functions.
// One run's result stays here until the next run or ledger_release(); the worker copies it out.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "core/byte_source.h"
#include "core/convert_memory.h"
#include "core/export_check.h"
#include "core/notice.h"
#include "core/records.h"

namespace {

class KeepNotice : public ledger::NoticeSink {
 public:
  explicit KeepNotice(ledger::Notice& kept) : kept_(kept) {}
  void Show(const ledger::Notice& notice) override { kept_ = notice; }

 private:
  ledger::Notice& kept_;
};

struct RunResult {
  bool completed = false;
  ledger::Notice notice;
};

// The page's side of the outputs: the worker sets Module.ledgerOutput = {begin, piece, drop}
// before each run, and piece(file, address, size) copies the bytes out of the module's memory
// at once. A failure there is the page running out of memory.
EM_JS(int, PageBegin, (int file), {
  try {
    Module['ledgerOutput'].begin(file);
    return 1;
  } catch (error) {
    return 0;
  }
});
EM_JS(int, PagePiece, (int file, const char* data, std::size_t size), {
  try {
    Module['ledgerOutput'].piece(file, data >>> 0, size >>> 0);
    return 1;
  } catch (error) {
    return 0;
  }
});
EM_JS(void, PageDrop, (int file), {
  try {
    Module['ledgerOutput'].drop(file);
  } catch (error) {
  }
});

// Hands each output to the page 16 MiB at a time, so that the module never holds the files:
// they go straight into the page's Blobs, and a large run touches its output's size in memory
// once instead of twice.
class PageReceiver final : public ledger::OutputReceiver {
 public:
  void Begin(ledger::OutputFile file) override {
    if (!buffer_) {
      buffer_.reset(new char[kPieceBytes]);
    }
    used_ = 0;
    if (PageBegin(static_cast<int>(file)) == 0) {
      throw std::bad_alloc();
    }
  }
  bool Take(ledger::OutputFile file, const char* data, std::size_t size) override {
    while (size > 0) {
      const std::size_t n = size < kPieceBytes - used_ ? size : kPieceBytes - used_;
      std::memcpy(buffer_.get() + used_, data, n);
      used_ += n;
      data += n;
      size -= n;
      if (used_ == kPieceBytes) {
        Hand(file);
      }
    }
    return true;
  }
  bool Keep(ledger::OutputFile file) override {
    Hand(file);
    return true;
  }
  void Drop(ledger::OutputFile file) override {
    used_ = 0;
    PageDrop(static_cast<int>(file));
  }

 private:
  static constexpr std::size_t kPieceBytes = 16 << 20;

  void Hand(ledger::OutputFile file) {
    if (used_ > 0 && PagePiece(static_cast<int>(file), buffer_.get(), used_) == 0) {
      throw std::bad_alloc();
    }
    used_ = 0;
  }

  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

RunResult& LastRun() {
  static RunResult run;
  return run;
}

// One part, written through a cursor into memory taken once at its bound: no append checks
// its capacity or moves what is written. A write past the bound is refused and remembered.
class PackedPart {
 public:
  // Takes room for `bound` bytes, uninitialised, and empties the part; throws std::bad_alloc.
  void Reserve(std::size_t bound) {
    bytes_.reset(new char[bound == 0 ? 1 : bound]);
    capacity_ = bound;
    size_ = 0;
  }
  // Appends `size` bytes, unless the part's bound would be passed.
  void Put(const char* data, std::size_t size) {
    if (size > capacity_ - size_) {
      overflowed_ = true;
      return;
    }
    std::memcpy(bytes_.get() + size_, data, size);
    size_ += size;
  }
  void PutByte(char byte) { Put(&byte, 1); }
  // Appends `value` as a 32-bit little-endian word.
  void PutWord(std::size_t value) {
    const auto word = static_cast<std::uint32_t>(value);
    const char bytes[4] = {static_cast<char>(word), static_cast<char>(word >> 8),
                           static_cast<char>(word >> 16), static_cast<char>(word >> 24)};
    Put(bytes, 4);
  }
  // Sets the byte at `offset`, one already written.
  void SetByte(std::size_t offset, char byte) {
    if (offset < size_) {
      bytes_[offset] = byte;
    }
  }
  const char* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  bool overflowed() const { return overflowed_; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  bool overflowed_ = false;
};

// The preview of an export, packed for the page as its four parts laid end to end, all numbers
// 32-bit little-endian words:
// - the header: scouts, adults, fields cut; the byte offsets of the rows, of the cut members, of
//   the cell bytes and of the end; the scout and adult column counts; the scouts and the adults
//   with a cut field; then per column, scouts' first, its field and its room (0 for the adult
//   flag, whose cell holds "1" or "0" as the record's word);
// - the rows, scouts' then adults', in export order: the member's line, the offset of its first
//   cell byte from the cell bytes' start, then per column a byte of the field's length (trailing
//   blanks off, at most 99) and a byte of what the record keeps of it;
// - the cut members: the index from 0 of each member with a cut field, scouts' then adults';
// - the cell bytes: each member's stored fields, whole, one after the other.
struct Preview {
  PackedPart header;
  PackedPart rows;
  PackedPart cutMembers;
  PackedPart cells;
};

Preview& LastPreview() {
  static Preview preview;
  return preview;
}

// The fields a record stores, in field order, each with its room; the adult flag has room 0.
struct Columns {
  int count = 0;
  int field[ledger::kMaxFields];
  std::size_t room[ledger::kMaxFields];
  int columnOf[ledger::kMaxFields];  // -1 for a field the record does not store
};

Columns StoredColumns(ledger::MemberKind kind) {
  Columns columns;
  for (int k = 0; k < ledger::kMaxFields; ++k) {
    const bool scout = kind == ledger::MemberKind::kScout;
    const std::size_t room = scout ? ledger::ScoutFieldRoom(k) : ledger::AdultFieldRoom(k);
    columns.columnOf[k] = -1;
    if (room > 0 || (!scout && k == ledger::kAdultFlagField)) {
      columns.columnOf[k] = columns.count;
      columns.field[columns.count] = k;
      columns.room[columns.count++] = room;
    }
  }
  return columns;
}

// Appends each member's row and cell bytes as the check reads it; a cut lowers what the row
// says its record keeps of that field.
class PreviewBuilder : public ledger::CheckListener {
 public:
  explicit PreviewBuilder(Preview& preview)
      : preview_(preview),
        scouts_(StoredColumns(ledger::MemberKind::kScout)),
        adults_(StoredColumns(ledger::MemberKind::kAdult)) {}

  void OnMember(ledger::MemberKind kind, std::size_t, std::size_t line,
                const ledger::FieldViews& fields) override {
    const Columns& columns = ColumnsOf(kind);
    preview_.rows.PutWord(line);
    preview_.rows.PutWord(preview_.cells.size());
    cellsAt_ = preview_.rows.size();
    memberCut_ = false;
    for (int c = 0; c < columns.count; ++c) {
      std::string_view value = fields.field[columns.field[c]];
      if (columns.room[c] == 0) {
        value = ledger::AdultFlagOf(value) ? "1" : "0";
      }
      preview_.cells.Put(value.data(), value.size());
      preview_.rows.PutByte(static_cast<char>(value.size()));
      preview_.rows.PutByte(static_cast<char>(value.size()));
    }
  }

  void OnCut(ledger::MemberKind kind, std::size_t number, const ledger::CutField& cut) override {
    const int column = ColumnsOf(kind).columnOf[cut.field];
    preview_.rows.SetByte(cellsAt_ + 2 * column + 1, static_cast<char>(cut.keeps));
    if (!memberCut_) {
      memberCut_ = true;
      preview_.cutMembers.PutWord(number - 1);
      ++(kind == ledger::MemberKind::kScout ? cutScouts : cutAdults);
    }
  }

  std::size_t cutScouts = 0;  // members with a cut field, by section
  std::size_t cutAdults = 0;

  const Columns& ColumnsOf(ledger::MemberKind kind) const {
    return kind == ledger::MemberKind::kScout ? scouts_ : adults_;
  }

 private:
  Preview& preview_;
  Columns scouts_;
  Columns adults_;
  std::size_t cellsAt_ = 0;  // where the current row's cell bytes start in preview_.rows
  bool memberCut_ = false;   // whether the current member is in preview_.cutMembers
};

class IgnoreNotice : public ledger::NoticeSink {
 public:
  void Show(const ledger::Notice&) override {}
};

// Fills `preview` for the export in `bytes`; false for an invalid export or when memory runs out.
bool BuildPreview(std::string_view bytes, Preview& preview) {
  PreviewBuilder builder(preview);
  const Columns& scouts = builder.ColumnsOf(ledger::MemberKind::kScout);
  const Columns& adults = builder.ColumnsOf(ledger::MemberKind::kAdult);
  // Each part is taken once at its bound: every line is at most one member, whose cell bytes are
  // its line's own but for the flag's byte. The page counts on this bound.
  const void* eof = std::memchr(bytes.data(), 0x1a, bytes.size());
  const char* end = eof ? static_cast<const char*>(eof) : bytes.data() + bytes.size();
  std::size_t lines = 1;
  for (const char* at = bytes.data();
       (at = static_cast<const char*>(std::memchr(at, '\n', end - at))); ++at) {
    ++lines;
  }
  const int widest = scouts.count > adults.count ? scouts.count : adults.count;
  const std::size_t headerSize = 4 * (11 + 2 * (scouts.count + adults.count));
  preview.header.Reserve(headerSize);
  preview.rows.Reserve(lines * (8 + 2 * widest));
  preview.cutMembers.Reserve(lines * 4);
  preview.cells.Reserve(static_cast<std::size_t>(end - bytes.data()) + lines);

  ledger::MemorySource source(bytes);
  ledger::CheckCounts counts;
  IgnoreNotice ignore;
  if (!ledger::CheckExport(source, "", builder, counts, ignore)) {
    return false;
  }
  PackedPart& header = preview.header;
  header.PutWord(counts.scouts);
  header.PutWord(counts.adults);
  header.PutWord(counts.cuts);
  const std::size_t cutMembersAt = headerSize + preview.rows.size();
  const std::size_t cellsAt = cutMembersAt + preview.cutMembers.size();
  header.PutWord(headerSize);
  header.PutWord(cutMembersAt);
  header.PutWord(cellsAt);
  header.PutWord(cellsAt + preview.cells.size());
  header.PutWord(scouts.count);
  header.PutWord(adults.count);
  header.PutWord(builder.cutScouts);
  header.PutWord(builder.cutAdults);
  for (const Columns* columns : {&scouts, &adults}) {
    for (int c = 0; c < columns->count; ++c) {
      header.PutWord(columns->field[c]);
      header.PutWord(columns->room[c]);
    }
  }
  // Unreachable by the bounds above; were one wrong, the preview is dropped rather than cut.
  return !(header.overflowed() || preview.rows.overflowed() || preview.cutMembers.overflowed() ||
           preview.cells.overflowed());
}

const PackedPart* PreviewPartAt(int index) {
  Preview& preview = LastPreview();
  switch (index) {
    case 0:
      return &preview.header;
    case 1:
      return &preview.rows;
    case 2:
      return &preview.cutMembers;
    case 3:
      return &preview.cells;
    default:
      return nullptr;
  }
}

}  // namespace

extern "C" {

// Converts the `size` export bytes at `bytes`, handing the outputs to Module.ledgerOutput as
// they are written; returns 1 when the conversion completed (every file was kept), else 0.
EMSCRIPTEN_KEEPALIVE int ledger_convert(const char* bytes, std::size_t size) {
  RunResult& run = LastRun();
  run = RunResult();
  KeepNotice sink(run.notice);
  PageReceiver receiver;
  run.completed = ledger::ConvertExportBytes(std::string_view(bytes, size), receiver, sink);
  return run.completed ? 1 : 0;
}

// The last run's notice: 0 for information, 1 for a warning.
EMSCRIPTEN_KEEPALIVE int ledger_notice_kind() {
  return LastRun().notice.kind() == ledger::NoticeKind::kWarning ? 1 : 0;
}

// The last run's notice caption, as a NUL-terminated UTF-8 string.
EMSCRIPTEN_KEEPALIVE const char* ledger_notice_caption() {
  return LastRun().notice.caption().data();
}

// The last run's notice text; its paragraphs are separated by an empty line.
EMSCRIPTEN_KEEPALIVE const char* ledger_notice_text() {
  return LastRun().notice.message().data();
}

// Checks the `size` export bytes at `bytes` as the conversion reads them and keeps their
// preview; returns 1 for a valid export, else 0 with no preview.
EMSCRIPTEN_KEEPALIVE int ledger_check(const char* bytes, std::size_t size) {
  Preview& preview = LastPreview();
  preview = Preview();
  try {
    if (BuildPreview(std::string_view(bytes, size), preview)) {
      return 1;
    }
  } catch (const std::bad_alloc&) {
  }
  preview = Preview();
  return 0;
}

// The bytes of part `index` of the last preview (0 header, 1 rows, 2 cut members, 3 cell
// bytes), or null.
EMSCRIPTEN_KEEPALIVE const char* ledger_preview_data(int index) {
  const PackedPart* part = PreviewPartAt(index);
  return part ? part->data() : nullptr;
}

// The size of part `index` of the last preview in bytes, 0 for an unknown index.
EMSCRIPTEN_KEEPALIVE std::size_t ledger_preview_size(int index) {
  const PackedPart* part = PreviewPartAt(index);
  return part ? part->size() : 0;
}

// Frees the last run's preview so that the memory serves the next run.
EMSCRIPTEN_KEEPALIVE void ledger_release() {
  LastRun() = RunResult();
  LastPreview() = Preview();
}

// The fixed texts the page shows, by name; null for an unknown name.
EMSCRIPTEN_KEEPALIVE const char* ledger_text(const char* name) {
  static const struct {
    std::string_view name;
    const char* text;
  } kTexts[] = {
      {"dialogTitle", ledger::kDialogTitle},
      {"dialogPurpose", ledger::kDialogPurposeText},
      {"dialogBefore", ledger::kDialogBeforeText},
      {"noticeCaption", ledger::CaptionOf(ledger::NoticeCode::kConverted)},
      {"invalidFormat", ledger::SentenceOf(ledger::NoticeCode::kInvalidFormat)},
      {"outOfMemory", ledger::SentenceOf(ledger::NoticeCode::kOutOfMemory)},
      {"dropOneFile", ledger::SentenceOf(ledger::NoticeCode::kDropOneFile)},
      {"readFailed", ledger::CaptionOf(ledger::NoticeCode::kReadFailed)},
  };
  for (const auto& entry : kTexts) {
    if (entry.name == name)
      return entry.text;
  }
  return nullptr;
}

}  // extern "C"
