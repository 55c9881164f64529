// The page's entry points into the conversion core, bound to JavaScript with embind. A run is
// one call, convert(address, size, room, output, earlier): it converts the export held in the
// module's memory, hands the outputs to `output` as they are written, and returns the notice, the
// preview and, given earlier record files, the comparison with them, all made from the same read
// of the export. Nothing outlives the call in the module.
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

#include "core/byte_source.h"
#include "core/byte_words.h"
#include "core/convert_memory.h"
#include "core/convert_run.h"
#include "core/export_check.h"
#include "core/export_reader.h"
#include "core/notice.h"
#include "core/output_sink.h"
#include "core/record_compare.h"
#include "core/records.h"
#include "core/text_fields.h"
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
// ("information" or "warning"), its caption, its message (paragraphs split by an empty line),
// for a file that is no export, the reason the command gives for it (else empty), and what the
// replaced record files held, the paragraph a dialog shows after the message (else empty).
struct NoticeValue {
  std::string code;
  std::string kind;
  std::string caption;
  std::string message;
  std::string reason;
  std::string changes;
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
  value.reason = ledger::FormatFaultText(notice.fault);
  value.changes = notice.changes;
  return value;
}

class KeepNotice : public ledger::NoticeSink {
 public:
  explicit KeepNotice(ledger::Notice& kept) : kept_(kept) {}
  void Show(const ledger::Notice& notice) override { kept_ = notice; }

 private:
  ledger::Notice& kept_;
};

// The CRC-32 (of ZIP and PNG) of what is fed to it, eight bytes a step: the page's archive of
// the outputs needs each file's, and the outputs pass here once as they are written. Most of a
// record is zero bytes, in a few runs: a run of zero words is stepped over at once, by a table
// for each power of two of its length.
class Crc32 {
 public:
  void Add(const unsigned char* data, std::size_t size) {
    const Tables& tables = Tables::Get();
    const auto& t = tables.t;
    std::uint32_t crc = ~crc_;
    std::size_t zeros = 0;  // zero words met and not yet stepped over
    for (; size >= 8; size -= 8, data += 8) {
      std::uint32_t low, high;
      std::memcpy(&low, data, 4);
      std::memcpy(&high, data + 4, 4);
      if ((low | high) == 0) {
        ++zeros;
        continue;
      }
      if (zeros > 0) {
        crc = tables.SkipZeroWords(crc, zeros);
        zeros = 0;
      }
      low ^= crc;
      crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^ t[5][(low >> 16) & 0xff] ^
            t[4][low >> 24] ^ t[3][high & 0xff] ^ t[2][(high >> 8) & 0xff] ^
            t[1][(high >> 16) & 0xff] ^ t[0][high >> 24];
    }
    crc = tables.SkipZeroWords(crc, zeros);
    for (; size > 0; --size) {
      crc = t[0][(crc ^ *data++) & 0xff] ^ (crc >> 8);
    }
    crc_ = ~crc;
  }
  std::uint32_t value() const { return crc_; }

 private:
  static constexpr int kLevels = 8;  // runs of up to 255 zero words in one step of each level

  struct Tables {
    // t[0] steps one byte; t[k] steps a byte followed by k zero bytes.
    std::uint32_t t[8][256];
    // zero[j][k][b]: what 2^j zero words make of a register holding byte b at byte k.
    std::uint32_t zero[kLevels][4][256];

    Tables() {
      for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
          c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        }
        t[0][n] = c;
      }
      for (std::uint32_t n = 0; n < 256; ++n) {
        for (int k = 1; k < 8; ++k) {
          t[k][n] = t[0][t[k - 1][n] & 0xff] ^ (t[k - 1][n] >> 8);
        }
      }
      // One zero word steps each register byte k through t[7 - k]; twice as many zero words are
      // the level below applied twice.
      for (int k = 0; k < 4; ++k) {
        std::memcpy(zero[0][k], t[7 - k], sizeof zero[0][k]);
      }
      for (int j = 1; j < kLevels; ++j) {
        for (int k = 0; k < 4; ++k) {
          for (std::uint32_t b = 0; b < 256; ++b) {
            zero[j][k][b] = Apply(j - 1, Apply(j - 1, b << (8 * k)));
          }
        }
      }
    }
    std::uint32_t Apply(int level, std::uint32_t crc) const {
      const auto& z = zero[level];
      return z[0][crc & 0xff] ^ z[1][(crc >> 8) & 0xff] ^ z[2][(crc >> 16) & 0xff] ^
             z[3][crc >> 24];
    }
    // The register after `words` zero words.
    std::uint32_t SkipZeroWords(std::uint32_t crc, std::size_t words) const {
      for (; words >= (std::size_t{1} << kLevels); words -= std::size_t{1} << (kLevels - 1)) {
        crc = Apply(kLevels - 1, crc);
      }
      for (int j = 0; words != 0; ++j, words >>= 1) {
        if (words & 1) {
          crc = Apply(j, crc);
        }
      }
      return crc;
    }
    static const Tables& Get() {
      static const Tables tables;
      return tables;
    }
  };

  std::uint32_t crc_ = 0;
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
    crcs_[static_cast<int>(file)] = Crc32();
    output_.call<void>("begin", static_cast<int>(file));
  }
  bool Take(ledger::OutputFile file, const char* data, std::size_t size) override {
    crcs_[static_cast<int>(file)].Add(reinterpret_cast<const unsigned char*>(data), size);
    const val bytes(
        emscripten::typed_memory_view(size, reinterpret_cast<const unsigned char*>(data)));
    if (!output_.call<bool>("piece", static_cast<int>(file), bytes)) {
      throw std::bad_alloc();
    }
    return true;
  }
  bool Keep(ledger::OutputFile) override { return true; }
  void Drop(ledger::OutputFile file) override {
    crcs_[static_cast<int>(file)] = Crc32();
    output_.call<void>("drop", static_cast<int>(file));
  }
  // Each output's CRC-32, by its index.
  val Crcs() const {
    val crcs = val::array();
    for (int i = 0; i < kOutputs; ++i) {
      crcs.set(i, crcs_[i].value());
    }
    return crcs;
  }

 private:
  static constexpr int kOutputs = 3;
  val output_;
  Crc32 crcs_[kOutputs];
};

// Whether a byte of [p, p + size) is past ASCII, eight bytes a step.
bool HasBytePastAscii(const unsigned char* p, std::size_t size) {
  std::uint64_t seen = 0;
  for (; size >= 8; size -= 8, p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    seen |= word;
  }
  for (; size > 0; --size) {
    seen |= *p++;
  }
  return (seen & 0x8080808080808080u) != 0;
}

// Whether `text` is UTF-8 with at least one multi-byte character: every byte past ASCII is in a
// well-formed sequence (no overlong form, surrogate or code point past U+10FFFF). Text in a
// single-byte code page almost never is.
bool IsMultiByteUtf8(std::string_view text) {
  bool multiByte = false;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    std::uint32_t point;
    std::uint32_t least;
    if ((lead & 0xe0) == 0xc0) {
      length = 2, point = lead & 0x1f, least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
      length = 3, point = lead & 0x0f, least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
      length = 4, point = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (length > text.size() - i) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) {
        return false;
      }
      point = (point << 6) | (next & 0x3f);
    }
    if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) {
      return false;
    }
    multiByte = true;
    i += length;
  }
  return multiByte;
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

// The most cell bytes of an export of `size` bytes and `lines` lines: each line's own but for
// the flag's byte, and at most its stored fields, each cut to 99 bytes. A number, as it may
// pass 32 bits.
double CellBytes(double size, double lines) {
  int most = 0;
  for (ledger::MemberKind kind : {ledger::MemberKind::kScout, ledger::MemberKind::kAdult}) {
    most = std::max(most, ledger::RecordFields(kind).count);
  }
  return std::min(size + lines, lines * most * (ledger::kFieldWidth - 1));
}

// The most bytes the preview takes for an export of `size` bytes and `lines` lines: each section
// at the bound, as either may hold every line, with its words and, per stored field, a byte of
// its length and a byte of what its record keeps; and the cell bytes (CellBytes).
double PreviewBytes(double size, double lines) {
  double perLine = 0;
  for (ledger::MemberKind kind : {ledger::MemberKind::kScout, ledger::MemberKind::kAdult}) {
    perLine += kWordsPerMember * sizeof(std::uint32_t) + 2 * ledger::RecordFields(kind).count;
  }
  return perLine * lines + CellBytes(size, lines);
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
// The preview: the members and the fields cut, the stored fields that hold UTF-8 multi-byte text
// (IsMultiByteUtf8), each section, and the cell bytes, each member's stored fields whole, one
// after the other.
struct PreviewValue {
  std::size_t cuts = 0;
  std::size_t utf8 = 0;
  SectionValue scouts;
  SectionValue adults;
  val cells = val::null();
};

// What a run returns: the most bytes it holds besides the export (RunBytes) and whether they fit
// in its room (when not, nothing else was done and the rest is empty), whether the run
// completed, its notice, its preview (null unless it completed), each output's CRC-32 by its
// index, and the comparison with the earlier record files (ChangeList::Value; null unless the run
// was given them and completed).
struct RunValue {
  double needs = 0;
  bool fits = false;
  bool completed = false;
  NoticeValue notice;
  val preview = val::null();
  val crcs = val::null();
  val comparison = val::null();
};

// One section's rows as the check reads them.
struct SectionParts {
  explicit SectionParts(ledger::MemberKind kind) : stored(ledger::RecordFields(kind)) {
    std::fill(std::begin(columnOf), std::end(columnOf), -1);
    for (int c = 0; c < stored.count; ++c) {
      columnOf[stored.at[c].field] = c;
      if (stored.at[c].room == 0) {
        flagColumn = c;
      }
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
  int flagColumn = -1;               // the adult flag's column, whose cell holds its word
  Part<std::uint32_t> lines;
  Part<std::uint32_t> cellAt;
  Part<unsigned char> lengths;
  Part<unsigned char> keeps;
  Part<std::uint32_t> cut;
};

// Builds the preview from the check that goes alongside the conversion. Its parts are taken at
// their bounds before the run (see PreviewBytes); throws std::bad_alloc without the memory.
// Tells output.progress(line, lines), when the page gives one, of the share of the export's
// lines read, a few hundred times a run.
class PreviewBuilder : public ledger::CheckListener {
 public:
  PreviewBuilder(std::size_t size, std::size_t lines, const val& output)
      : lines_(lines), step_(std::max<std::size_t>(lines / 256, 1024)) {
    scouts_.Reserve(lines);
    adults_.Reserve(lines);
    cells_.Reserve(
        static_cast<std::size_t>(CellBytes(static_cast<double>(size), static_cast<double>(lines))));
    if (!output["progress"].isUndefined()) {
      progress_ = output["progress"];
      reportAt_ = step_;
    }
  }

  // Runs for every member of a large export: the parts are taken once per member and written
  // through pointers.
  void OnMember(ledger::MemberKind kind, std::size_t, std::size_t line,
                const ledger::FieldViews& fields) override {
    if (line >= reportAt_) {
      reportAt_ = line + step_;
      progress_(line, lines_);
    }
    SectionParts& parts = PartsOf(kind);
    const ledger::StoredFields& stored = parts.stored;
    std::uint32_t* lineAt = parts.lines.Take(1);
    std::uint32_t* cellAt = parts.cellAt.Take(1);
    rowAt_ = parts.keeps.size();
    unsigned char* lengths = parts.lengths.Take(stored.count);
    unsigned char* keeps = parts.keeps.Take(stored.count);
    memberCut_ = false;
    if (!lineAt || !cellAt || !lengths || !keeps) {
      return;
    }
    std::string_view values[ledger::kMaxFields];
    std::size_t bytes = 0;
    for (int c = 0; c < stored.count; ++c) {
      values[c] = c == parts.flagColumn ? ledger::AdultFlagWord(fields.field[stored.at[c].field])
                                        : fields.field[stored.at[c].field];
      lengths[c] = keeps[c] = static_cast<unsigned char>(values[c].size());
      bytes += values[c].size();
    }
    const std::size_t cellsAt = cells_.size();
    unsigned char* const cells = cells_.Take(bytes);
    if (!cells) {
      return;
    }
    *lineAt = static_cast<std::uint32_t>(line);
    *cellAt = static_cast<std::uint32_t>(cellsAt);
    unsigned char* cell = cells;
    for (int c = 0; c < stored.count; ++c) {
      ledger::byte_words::CopyShort(reinterpret_cast<char*>(cell), values[c].data(),
                                    values[c].size());
      cell += values[c].size();
    }
    // Text past ASCII is rare: only then is each field read again.
    if (HasBytePastAscii(cells, bytes)) {
      for (int c = 0; c < stored.count; ++c) {
        utf8_ += IsMultiByteUtf8(values[c]);
      }
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
    value.utf8 = utf8_;
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
  std::size_t utf8_ = 0;    // the stored fields that hold UTF-8 multi-byte text
  std::size_t lines_;
  std::size_t step_;                 // the lines between two reports of progress
  std::size_t reportAt_ = SIZE_MAX;  // the line of the next report; none without progress_
  val progress_ = val::undefined();
};

// The most bytes a run of an export of `size` bytes and `lines` lines takes besides the export:
// the outputs' (one record a line, and the version file) or the preview's, whichever is larger,
// as the outputs leave the module as they are written. A number, as it may pass 32 bits.
double RunBytes(std::size_t size, std::size_t lines) {
  const double version = std::strlen(ledger::kVersionLine1) + std::strlen(ledger::kVersionLine2);
  return std::max(version + static_cast<double>(ledger::kRecordSize) * lines,
                  PreviewBytes(static_cast<double>(size), static_cast<double>(lines)));
}

// Bytes of the module's memory as a Uint8Array of JavaScript's own.
val BytesOf(std::string_view bytes) {
  return val::global("Uint8Array")
      .new_(emscripten::typed_memory_view(bytes.size(),
                                          reinterpret_cast<const unsigned char*>(bytes.data())));
}

const char* KindName(ledger::MemberKind kind) {
  return kind == ledger::MemberKind::kScout ? "scout" : "adult";
}

// Lists the members a comparison finds added, removed and changed, each list up to kListed
// members: an export compared with an unrelated file changes every member, and the page shows
// no more than a leader reads. Keys and texts are the records' bytes (Uint8Array).
class ChangeList final : public ledger::ChangeListener {
 public:
  static constexpr std::size_t kListed = 1000;

  void OnAdded(ledger::MemberKind kind, std::size_t number, std::size_t line,
               std::string_view key) override {
    if (Full(added_)) {
      return;
    }
    added_.call<void>("push", NewMember(kind, number, line, key));
  }
  void OnChanged(ledger::MemberKind kind, std::size_t number, std::size_t line,
                 std::string_view key, const ledger::ChangedField* fields, int count) override {
    if (Full(changed_)) {
      return;
    }
    val member = NewMember(kind, number, line, key);
    val changes = val::array();
    for (int i = 0; i < count; ++i) {
      val field = val::object();
      field.set("field", fields[i].field);
      field.set("earlier", BytesOf(fields[i].earlier));
      field.set("now", BytesOf(fields[i].now));
      changes.call<void>("push", field);
    }
    member.set("fields", changes);
    changed_.call<void>("push", member);
  }
  void OnRemoved(ledger::MemberKind kind, std::size_t record, std::string_view key) override {
    if (Full(removed_)) {
      return;
    }
    val member = val::object();
    member.set("kind", KindName(kind));
    member.set("record", record);
    member.set("key", BytesOf(key));
    removed_.call<void>("push", member);
  }

  // The comparison for the page: whether it is complete, the file that could not be read as
  // records ("" when none), the counts of each kind, their text as the notice says them, whether
  // anything changed, the lists, and whether every member changed is in them.
  val Value(const ledger::RecordComparison& comparison, bool loaded) const {
    val value = val::object();
    value.set("complete", loaded && comparison.complete());
    const ledger::OutputFile failed = comparison.failedFile() == ledger::MemberKind::kScout
                                          ? ledger::OutputFile::kScouts
                                          : ledger::OutputFile::kAdults;
    value.set("failed", comparison.failed() ? ledger::OutputFileName(failed) : "");
    const ledger::ChangeCounts& scouts = comparison.counts(ledger::MemberKind::kScout);
    const ledger::ChangeCounts& adults = comparison.counts(ledger::MemberKind::kAdult);
    value.set("scouts", CountsOf(scouts));
    value.set("adults", CountsOf(adults));
    value.set("text", ledger::ChangeCountsText(scouts, adults));
    value.set("anyChange", comparison.anyChange());
    value.set("added", added_);
    value.set("removed", removed_);
    value.set("changed", changed_);
    value.set("allListed", !full_);
    return value;
  }

 private:
  // A new member of the export as the lists hold it.
  static val NewMember(ledger::MemberKind kind, std::size_t number, std::size_t line,
                       std::string_view key) {
    val member = val::object();
    member.set("kind", KindName(kind));
    member.set("number", number);
    member.set("line", line);
    member.set("key", BytesOf(key));
    return member;
  }

  bool Full(const val& list) {
    if (list["length"].as<std::size_t>() < kListed) {
      return false;
    }
    full_ = true;
    return true;
  }
  static val CountsOf(const ledger::ChangeCounts& counts) {
    val value = val::object();
    value.set("added", counts.added);
    value.set("removed", counts.removed);
    value.set("changed", counts.changed);
    value.set("unchanged", counts.unchanged);
    return value;
  }

  val added_ = val::array();
  val removed_ = val::array();
  val changed_ = val::array();
  bool full_ = false;
};

// An earlier record file in the module's memory, from the page's {at, size}; absent for null or
// undefined.
struct EarlierBytes {
  explicit EarlierBytes(const val& file) {
    if (file.isNull() || file.isUndefined()) {
      return;
    }
    bytes = std::string_view(reinterpret_cast<const char*>(file["at"].as<std::uintptr_t>()),
                             file["size"].as<std::size_t>());
    source = std::make_unique<ledger::MemoryRecords>(bytes);
  }
  std::string_view bytes;
  std::unique_ptr<ledger::MemoryRecords> source;
};

// Converts the `size` export bytes at `address` in the module's memory, handing the outputs to
// `output` (see CallbackReceiver), and checks them in the same read for the preview; unless the
// run would take more than `room` bytes besides the export. `earlier`, unless null, holds the
// record files the outputs are compared with, in the same read: {scouts, adults}, each {at, size}
// in the module's memory or null for a missing file, and `preview`, false for a run that makes
// none. A file that cannot be read as records leaves the comparison out of the run.
RunValue Convert(std::uintptr_t address, std::size_t size, double room, val output, val earlier) {
  const std::string_view bytes(reinterpret_cast<const char*>(address), size);
  const std::size_t lines = ledger::CountExportLines(bytes);
  RunValue run;
  run.needs = RunBytes(size, lines);
  if (run.needs > room) {
    return run;
  }
  run.fits = true;
  const bool comparing = !earlier.isNull() && !earlier.isUndefined();
  const bool previewing = !comparing || !earlier["preview"].isFalse();
  ledger::Notice notice;
  KeepNotice sink(notice);
  std::unique_ptr<PreviewBuilder> builder;
  try {
    if (previewing) {
      builder = std::make_unique<PreviewBuilder>(size, lines, output);
    }
  } catch (const std::bad_alloc&) {
  }
  ChangeList changes;
  ledger::RecordComparison comparison(&changes);
  bool loaded = false;
  std::unique_ptr<EarlierBytes> scouts, adults;
  if (comparing) {
    scouts = std::make_unique<EarlierBytes>(earlier["scouts"]);
    adults = std::make_unique<EarlierBytes>(earlier["adults"]);
    try {
      loaded = comparison.Load(scouts->source.get(), adults->source.get());
    } catch (const std::bad_alloc&) {
    }
  }
  CallbackReceiver receiver(std::move(output));
  ledger::RecordComparison* compared = loaded ? &comparison : nullptr;
  if (builder) {
    ledger::ExportCheck check(*builder);
    run.completed = ledger::ConvertExportBytes(bytes, receiver, sink, &check, compared);
    if (run.completed) {
      run.preview = builder->Value(check.counts());
    }
  } else {
    run.completed = ledger::ConvertExportBytes(bytes, receiver, sink, nullptr, compared);
  }
  run.notice = ValueOf(notice);
  run.crcs = receiver.Crcs();
  if (comparing && run.completed) {
    run.comparison = changes.Value(comparison, loaded);
  }
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
      .field("message", &NoticeValue::message)
      .field("reason", &NoticeValue::reason)
      .field("changes", &NoticeValue::changes);
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
      .field("utf8", &PreviewValue::utf8)
      .field("scouts", &PreviewValue::scouts)
      .field("adults", &PreviewValue::adults)
      .field("cells", &PreviewValue::cells);
  value_object<RunValue>("Run")
      .field("needs", &RunValue::needs)
      .field("fits", &RunValue::fits)
      .field("completed", &RunValue::completed)
      .field("notice", &RunValue::notice)
      .field("preview", &RunValue::preview)
      .field("crcs", &RunValue::crcs)
      .field("comparison", &RunValue::comparison);
  emscripten::function("convert", &Convert);
  emscripten::function("outputNames", &OutputNames);
  emscripten::function("notice", &NoticeOf);
  emscripten::function("text", &Text);
}
