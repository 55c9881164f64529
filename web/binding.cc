// The page's entry points into the conversion core, bound to JavaScript with embind. A run is
// one call, convert(address, size, room, output): it converts the export held in the module's
// memory, hands the outputs to `output` as they are written, and returns the notice and the
// preview, both made from the same read of the export. Nothing outlives the call in the module.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "core/convert_memory.h"
#include "core/convert_run.h"
#include "core/export_check.h"
#include "core/export_reader.h"
#include "core/notice.h"
#include "core/records.h"
#include "core/version_file.h"

namespace {

using emscripten::val;

// The name the page knows each notice code by.
constexpr struct {
  ledger::NoticeCode code;
  const char* name;
} kNoticeCodes[] = {
    {ledger::NoticeCode::kConverted, "converted"},
    {ledger::NoticeCode::kInvalidFormat, "invalidFormat"},
    {ledger::NoticeCode::kCreateFailed, "createFailed"},
    {ledger::NoticeCode::kWriteFailed, "writeFailed"},
    {ledger::NoticeCode::kOpenFailed, "openFailed"},
    {ledger::NoticeCode::kReadFailed, "readFailed"},
    {ledger::NoticeCode::kOutOfMemory, "outOfMemory"},
    {ledger::NoticeCode::kDropOneFile, "dropOneFile"},
};

// A notice as the page shows it, everything from the core's table: its code's name, its kind
// ("information" or "warning"), its caption and its message (paragraphs split by an empty line).
struct NoticeValue {
  std::string code;
  std::string kind;
  std::string caption;
  std::string message;
};

NoticeValue ValueOf(const ledger::Notice& notice) {
  NoticeValue value;
  for (const auto& entry : kNoticeCodes) {
    if (entry.code == notice.code) {
      value.code = entry.name;
    }
  }
  value.kind = notice.kind() == ledger::NoticeKind::kWarning ? "warning" : "information";
  value.caption = std::string(notice.caption());
  value.message = std::string(notice.message());
  return value;
}

class KeepNotice : public ledger::NoticeSink {
 public:
  explicit KeepNotice(ledger::Notice& kept) : kept_(kept) {}
  void Show(const ledger::Notice& notice) override { kept_ = notice; }

 private:
  ledger::Notice& kept_;
};

// Hands each output to the page's callbacks as the run writes it: output.begin(file) when a new
// version of file `file` (its index in outputNames()) begins, output.piece(file, bytes) for each
// piece, whose view into the module's memory is valid during the call only, and
// output.drop(file) when what was handed of it is not a file. A piece that the page cannot take
// (piece returns false) is the page running out of memory.
class CallbackReceiver final : public ledger::OutputReceiver {
 public:
  explicit CallbackReceiver(val output) : output_(std::move(output)) {}
  void Begin(ledger::OutputFile file) override {
    output_.call<void>("begin", static_cast<int>(file));
  }
  bool Take(ledger::OutputFile file, const char* data, std::size_t size) override {
    const val bytes(
        emscripten::typed_memory_view(size, reinterpret_cast<const unsigned char*>(data)));
    if (!output_.call<bool>("piece", static_cast<int>(file), bytes)) {
      throw std::bad_alloc();
    }
    return true;
  }
  bool Keep(ledger::OutputFile) override { return true; }
  void Drop(ledger::OutputFile file) override {
    output_.call<void>("drop", static_cast<int>(file));
  }

 private:
  val output_;
};

// Copies a field's `size` bytes, at most 99: word by word, then byte by byte, as a call to
// memcpy for each short field would cost more than the copy.
__attribute__((no_builtin("memcpy"))) void CopyField(unsigned char* to, const char* from,
                                                     std::size_t size) {
  for (; size >= 8; size -= 8, to += 8, from += 8) {
    std::uint64_t word;
    __builtin_memcpy(&word, from, 8);
    __builtin_memcpy(to, &word, 8);
  }
  for (; size > 0; --size) {
    *to++ = static_cast<unsigned char>(*from++);
  }
}

// One array of the preview, taken once at its bound: no append checks its capacity against a
// growing store or moves what is written. A write past the bound is refused and remembered.
template <typename T>
class Part {
 public:
  // Takes room for `bound` items, uninitialised, and empties the part; throws std::bad_alloc.
  void Reserve(std::size_t bound) {
    items_.reset(new T[bound == 0 ? 1 : bound]);
    capacity_ = bound;
    size_ = 0;
  }
  // The next `count` items, to be written; null, and remembered, past the bound.
  T* Take(std::size_t count) {
    if (count > capacity_ - size_) {
      overflowed_ = true;
      return nullptr;
    }
    T* items = items_.get() + size_;
    size_ += count;
    return items;
  }
  // Sets the item at `index`, one already written.
  void Set(std::size_t index, T item) {
    if (index < size_) {
      items_[index] = item;
    }
  }
  std::size_t size() const { return size_; }
  bool overflowed() const { return overflowed_; }
  // A copy in JavaScript's own memory, as a typed array of `type`.
  val Copy(const char* type) const {
    return val::global(type).new_(emscripten::typed_memory_view(size_, items_.get()));
  }

 private:
  std::unique_ptr<T[]> items_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  bool overflowed_ = false;
};

// The 32-bit words the preview takes per member in each section's parts: its line, the offset
// of its cells and, when cut, its index.
constexpr std::size_t kWordsPerMember = 3;

// The most bytes the preview takes for an export of `size` bytes and `lines` lines: each section
// at the bound, as either may hold every line, with its words and, per stored field, a byte of
// its length and a byte of what its record keeps; and the cell bytes, which are each line's own
// but for the flag's byte. A number, as it may pass 32 bits.
double PreviewBytes(double size, double lines) {
  double perLine = 0;
  for (ledger::MemberKind kind : {ledger::MemberKind::kScout, ledger::MemberKind::kAdult}) {
    perLine += kWordsPerMember * sizeof(std::uint32_t) + 2 * ledger::RecordFields(kind).count;
  }
  return perLine * lines + size + lines;
}

// One section of the preview, laid out for the page as typed arrays: for member i (in export
// order) lines[i] is its line in the export and cellAt[i] the offset of its first cell byte in
// the preview's cells; for its stored column c, lengths[i * columns.length + c] is the field's
// length (trailing blanks off, at most 99) and keeps[i * columns.length + c] what the record
// keeps of it; cut holds the index from 0 of each member with a cut field. columns gives each
// stored field and its room, 0 for the adult flag, whose cell holds the record's word.
struct ColumnValue {
  int field = 0;
  std::size_t room = 0;
};
struct SectionValue {
  std::size_t count = 0;
  val columns = val::array();
  val lines = val::null();
  val cellAt = val::null();
  val lengths = val::null();
  val keeps = val::null();
  val cut = val::null();
};
// The preview: the members and the fields cut, each section, and the cell bytes, each member's
// stored fields whole, one after the other.
struct PreviewValue {
  std::size_t cuts = 0;
  SectionValue scouts;
  SectionValue adults;
  val cells = val::null();
};

// What a run returns: whether the export fits (when not, nothing else was done and the rest is
// empty), whether the run completed, its notice, and its preview (null unless it completed).
struct RunValue {
  bool fits = false;
  bool completed = false;
  NoticeValue notice;
  val preview = val::null();
};

// One section's rows as the check reads them.
struct SectionParts {
  explicit SectionParts(ledger::MemberKind kind) : stored(ledger::RecordFields(kind)) {
    std::fill(std::begin(columnOf), std::end(columnOf), -1);
    for (int c = 0; c < stored.count; ++c) {
      columnOf[stored.at[c].field] = c;
    }
  }
  // Takes room for `lines` members, as PreviewBytes counts it.
  void Reserve(std::size_t lines) {
    static_assert(kWordsPerMember == 3, "lines, cellAt and cut");
    this->lines.Reserve(lines);
    cellAt.Reserve(lines);
    cut.Reserve(lines);
    lengths.Reserve(lines * stored.count);
    keeps.Reserve(lines * stored.count);
  }
  bool overflowed() const {
    return lines.overflowed() || cellAt.overflowed() || cut.overflowed() || lengths.overflowed() ||
           keeps.overflowed();
  }
  SectionValue Value(std::size_t count) const {
    SectionValue value;
    value.count = count;
    for (int c = 0; c < stored.count; ++c) {
      value.columns.call<void>("push", ColumnValue{stored.at[c].field, stored.at[c].room});
    }
    value.lines = lines.Copy("Uint32Array");
    value.cellAt = cellAt.Copy("Uint32Array");
    value.lengths = lengths.Copy("Uint8Array");
    value.keeps = keeps.Copy("Uint8Array");
    value.cut = cut.Copy("Uint32Array");
    return value;
  }

  const ledger::StoredFields& stored;
  int columnOf[ledger::kMaxFields];  // the column of each field, -1 for one not stored
  Part<std::uint32_t> lines;
  Part<std::uint32_t> cellAt;
  Part<unsigned char> lengths;
  Part<unsigned char> keeps;
  Part<std::uint32_t> cut;
};

// Builds the preview from the check that goes alongside the conversion. Its parts are taken at
// their bounds before the run (see PreviewBytes); throws std::bad_alloc without the memory.
class PreviewBuilder : public ledger::CheckListener {
 public:
  PreviewBuilder(std::size_t size, std::size_t lines) {
    scouts_.Reserve(lines);
    adults_.Reserve(lines);
    cells_.Reserve(size + lines);
  }

  // Runs for every member of a large export: the parts are taken once per member and written
  // through pointers.
  void OnMember(ledger::MemberKind kind, std::size_t, std::size_t line,
                const ledger::FieldViews& fields) override {
    SectionParts& parts = PartsOf(kind);
    const ledger::StoredFields& stored = parts.stored;
    std::string_view values[ledger::kMaxFields];
    std::size_t bytes = 0;
    for (int c = 0; c < stored.count; ++c) {
      values[c] = fields.field[stored.at[c].field];
      if (stored.at[c].room == 0) {
        values[c] = ledger::AdultFlagWord(values[c]);
      }
      bytes += values[c].size();
    }
    std::uint32_t* lineAt = parts.lines.Take(1);
    std::uint32_t* cellAt = parts.cellAt.Take(1);
    const std::size_t cellsAt = cells_.size();
    unsigned char* cell = cells_.Take(bytes);
    rowAt_ = parts.keeps.size();
    unsigned char* lengths = parts.lengths.Take(stored.count);
    unsigned char* keeps = parts.keeps.Take(stored.count);
    memberCut_ = false;
    if (!lineAt || !cellAt || !cell || !lengths || !keeps) {
      return;
    }
    *lineAt = static_cast<std::uint32_t>(line);
    *cellAt = static_cast<std::uint32_t>(cellsAt);
    for (int c = 0; c < stored.count; ++c) {
      const std::size_t n = values[c].size();
      CopyField(cell, values[c].data(), n);
      cell += n;
      lengths[c] = keeps[c] = static_cast<unsigned char>(n);
    }
  }

  void OnCut(ledger::MemberKind kind, std::size_t number, const ledger::CutField& cut) override {
    SectionParts& parts = PartsOf(kind);
    parts.keeps.Set(rowAt_ + parts.columnOf[cut.field], static_cast<unsigned char>(cut.keeps));
    if (!memberCut_) {
      memberCut_ = true;
      if (std::uint32_t* index = parts.cut.Take(1)) {
        *index = static_cast<std::uint32_t>(number - 1);
      }
    }
  }

  // The preview for the page, copied out of the module's memory; null when it could not be
  // made. (The bounds make an overflow unreachable; were one wrong, the preview is dropped
  // rather than cut.)
  val Value(const ledger::CheckCounts& counts) const {
    if (scouts_.overflowed() || adults_.overflowed() || cells_.overflowed()) {
      return val::null();
    }
    PreviewValue value;
    value.cuts = counts.cuts;
    value.scouts = scouts_.Value(counts.scouts);
    value.adults = adults_.Value(counts.adults);
    value.cells = cells_.Copy("Uint8Array");
    return val(value);
  }

 private:
  SectionParts& PartsOf(ledger::MemberKind kind) {
    return kind == ledger::MemberKind::kScout ? scouts_ : adults_;
  }

  SectionParts scouts_{ledger::MemberKind::kScout};
  SectionParts adults_{ledger::MemberKind::kAdult};
  Part<unsigned char> cells_;
  std::size_t rowAt_ = 0;   // where the current member's columns start in its section's keeps
  bool memberCut_ = false;  // whether the current member is in its section's cut
};

// The most bytes a run of an export of `size` bytes and `lines` lines takes besides the export:
// the outputs' (one record a line, and the version file) or the preview's, whichever is larger,
// as the outputs leave the module as they are written. A number, as it may pass 32 bits.
double RunBytes(std::size_t size, std::size_t lines) {
  const double version = std::strlen(ledger::kVersionLine1) + std::strlen(ledger::kVersionLine2);
  return std::max(version + static_cast<double>(ledger::kRecordSize) * lines,
                  PreviewBytes(static_cast<double>(size), static_cast<double>(lines)));
}

// Converts the `size` export bytes at `address` in the module's memory, handing the outputs to
// `output` (see CallbackReceiver), and checks them in the same read for the preview; unless the
// run would take more than `room` bytes besides the export.
RunValue Convert(std::uintptr_t address, std::size_t size, double room, val output) {
  const std::string_view bytes(reinterpret_cast<const char*>(address), size);
  const std::size_t lines = ledger::CountExportLines(bytes);
  RunValue run;
  if (RunBytes(size, lines) > room) {
    return run;
  }
  run.fits = true;
  ledger::Notice notice;
  KeepNotice sink(notice);
  CallbackReceiver receiver(std::move(output));
  std::unique_ptr<PreviewBuilder> builder;
  try {
    builder = std::make_unique<PreviewBuilder>(size, lines);
  } catch (const std::bad_alloc&) {
  }
  if (builder) {
    ledger::ExportCheck check(*builder);
    run.completed = ledger::ConvertExportBytes(bytes, receiver, sink, &check);
    if (run.completed) {
      run.preview = builder->Value(check.counts());
    }
  } else {
    run.completed = ledger::ConvertExportBytes(bytes, receiver, sink);
  }
  run.notice = ValueOf(notice);
  return run;
}

// The output files' names, by the index the output callbacks are given.
val OutputNames() {
  val names = val::array();
  for (ledger::OutputFile file :
       {ledger::OutputFile::kVersion, ledger::OutputFile::kScouts, ledger::OutputFile::kAdults}) {
    names.set(static_cast<int>(file), val(ledger::OutputFileName(file)));
  }
  return names;
}

// The notice of code `code` (its name, as in NoticeValue), naming `path` if it names a file;
// null for an unknown code.
val NoticeOf(const std::string& code, const std::string& path) {
  for (const auto& entry : kNoticeCodes) {
    if (code == entry.name) {
      return val(ValueOf(ledger::Notice{entry.code, path}));
    }
  }
  return val::null();
}

// The fixed texts of the page's own dialog, by name; null for an unknown name.
val Text(const std::string& name) {
  static const struct {
    std::string_view name;
    const char* text;
  } kTexts[] = {
      {"dialogTitle", ledger::kDialogTitle},
      {"dialogPurpose", ledger::kDialogPurposeText},
      {"dialogBefore", ledger::kDialogBeforeText},
  };
  for (const auto& entry : kTexts) {
    if (entry.name == name) {
      return val(entry.text);
    }
  }
  return val::null();
}

}  // namespace

EMSCRIPTEN_BINDINGS(ledger) {
  using emscripten::value_object;
  value_object<NoticeValue>("Notice")
      .field("code", &NoticeValue::code)
      .field("kind", &NoticeValue::kind)
      .field("caption", &NoticeValue::caption)
      .field("message", &NoticeValue::message);
  value_object<ColumnValue>("Column")
      .field("field", &ColumnValue::field)
      .field("room", &ColumnValue::room);
  value_object<SectionValue>("Section")
      .field("count", &SectionValue::count)
      .field("columns", &SectionValue::columns)
      .field("lines", &SectionValue::lines)
      .field("cellAt", &SectionValue::cellAt)
      .field("lengths", &SectionValue::lengths)
      .field("keeps", &SectionValue::keeps)
      .field("cut", &SectionValue::cut);
  value_object<PreviewValue>("Preview")
      .field("cuts", &PreviewValue::cuts)
      .field("scouts", &PreviewValue::scouts)
      .field("adults", &PreviewValue::adults)
      .field("cells", &PreviewValue::cells);
  value_object<RunValue>("Run")
      .field("fits", &RunValue::fits)
      .field("completed", &RunValue::completed)
      .field("notice", &RunValue::notice)
      .field("preview", &RunValue::preview);
  emscripten::function("convert", &Convert);
  emscripten::function("outputNames", &OutputNames);
  emscripten::function("notice", &NoticeOf);
  emscripten::function("text", &Text);
}
