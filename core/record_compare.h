#ifndef LEDGER_CORE_RECORD_COMPARE_H_
#define LEDGER_CORE_RECORD_COMPARE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/export_walk.h"
#include "core/records.h"
#include "core/text_fields.h"

namespace ledger {

// An earlier record file, read back by offset.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // The file's length in bytes when it was opened.
  virtual unsigned long long Size() const = 0;
  // Reads the `size` bytes at `offset` into `data`; false unless all of them were read.
  virtual bool ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) = 0;
  // True when the file is no longer as it was opened: what was read of it may be part old, part
  // new.
  virtual bool Changed() const { return false; }
  // Told once the comparison reads no more of the file, so that a file on the disk may be closed
  // before a new version takes its place.
  virtual void Done() {}
};

// Record bytes held in memory, which must outlive the source.
class MemoryRecords final : public RecordSource {
 public:
  explicit MemoryRecords(std::string_view bytes) : bytes_(bytes) {}
  unsigned long long Size() const override { return bytes_.size(); }
  bool ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) override;

 private:
  std::string_view bytes_;
};

// What the comparison found for one kind of member.
struct ChangeCounts {
  std::size_t added = 0;
  std::size_t removed = 0;
  std::size_t changed = 0;
  std::size_t unchanged = 0;
};

// One field of a changed member whose bytes differ.
struct ChangedField {
  int field;                 // its position in the member line, from 0
  std::string_view earlier;  // its text as the earlier record keeps it
  std::string_view now;      // its text as the new record keeps it
};

// Told of each member that the import would change. Keys are a record's bytes 0-15 up to the
// first zero byte; every view is valid during the call only.
class ChangeListener {
 public:
  virtual ~ChangeListener() = default;
  // New member `number` (1-based within its section) at `line` of the export has no earlier
  // record.
  virtual void OnAdded(MemberKind kind, std::size_t number, std::size_t line,
                       std::string_view key) {
    (void)kind, (void)number, (void)line, (void)key;
  }
  // New member `number` at `line` differs from its earlier record in `count` fields, in field
  // order.
  virtual void OnChanged(MemberKind kind, std::size_t number, std::size_t line,
                         std::string_view key, const ChangedField* fields, int count) {
    (void)kind, (void)number, (void)line, (void)key, (void)fields, (void)count;
  }
  // Earlier record `record` (1-based in its file) has no new member; told when the section ends,
  // in file order.
  virtual void OnRemoved(MemberKind kind, std::size_t record, std::string_view key) {
    (void)kind, (void)record, (void)key;
  }
};

// The earlier file of one kind as the comparison keeps it: each record's key and index, and
// nothing more; a record's bytes are read back by its index when a new member pairs with it.
class EarlierRecords {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // Reads the keys of `source`'s records; nullptr is a missing file, read as empty. `source`
  // must outlive the records. False when the file cannot be read as records: its size is not a
  // whole number of them, or a read failed. Allocates for the keys; may throw std::bad_alloc.
  bool Load(RecordSource* source);

  // Whether the file was there, and its number of records.
  bool present() const { return present_; }
  std::size_t size() const { return keys_.size(); }

  // The index of the earlier record that a new member with `key` pairs with, marking it paired:
  // the k-th with a key pairs with the k-th call for that key. npos when none is left.
  std::size_t Pair(const unsigned char (&key)[16]);

  // Reads record `index` into `record`; false when it cannot be read.
  bool Read(std::size_t index, unsigned char* record);

  // Calls `each(index, key)` for every record never paired, in file order.
  template <typename Each>
  void ForEachUnpaired(Each each) const {
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (paired_[i] == 0) {
        each(i, KeyText(keys_[i].bytes));
      }
    }
  }

  // Whether the file changed since it was loaded.
  bool Changed() const { return source_ != nullptr && source_->Changed(); }

  // Reads no more of the file; the keys stay.
  void Done();

  // `key` (16 bytes, zero after its end) as text.
  static std::string_view KeyText(const unsigned char* key);

 private:
  struct Key {
    unsigned char bytes[16];  // zero from the first zero byte on, so that equal keys compare equal
  };
  bool Less(std::uint32_t a, std::uint32_t b) const;

  RecordSource* source_ = nullptr;  // null once done
  bool present_ = false;
  std::vector<Key> keys_;              // by record index
  std::vector<std::uint32_t> sorted_;  // record indices by key, then index
  std::vector<std::uint32_t> taken_;   // at a key's first place in sorted_: how many are paired
  std::vector<unsigned char> paired_;  // by record index
  // A block of the file's records read at once: members mostly pair in file order, and one read
  // a record would cost a system call each.
  std::vector<unsigned char> cache_;
  std::size_t cacheFirst_ = 0;  // the index of the cache's first record
  std::size_t cacheCount_ = 0;  // how many records it holds
};

// Compares the records a conversion writes with the record files it replaces, kind by kind, as
// a listener of the export's walk: a new member pairs with the earlier record of the same key in
// the same turn, equal bytes are unchanged, different ones changed; unpaired new members are
// added and unpaired earlier ones removed. Allocates nothing per member. Never stops the walk:
// a read that fails marks the comparison failed, and a conversion beside it goes on.
class RecordComparison final : public MemberListener {
 public:
  // `listener`, when given, is told of each change; it must outlive the comparison.
  explicit RecordComparison(ChangeListener* listener = nullptr);

  // Reads the keys of the earlier CPERW.DAT (`scouts`) and APERW.DAT (`adults`); nullptr is a
  // missing file. Both must outlive the comparison. False, with failedFile() set, when one
  // cannot be read as records. May throw std::bad_alloc.
  bool Load(RecordSource* scouts, RecordSource* adults);

  bool OnSectionStart(MemberKind kind) override;
  bool OnMember(MemberKind kind, std::size_t number, std::size_t line,
                const FieldViews& fields) override;
  bool OnSectionEnd(MemberKind kind) override;

  // True once an earlier file could not be read, or changed while it was read; failedFile()
  // says which.
  bool failed() const { return failed_; }
  MemberKind failedFile() const { return failedKind_; }
  // True when both sections were compared in full, without failure.
  bool complete() const { return !failed_ && ended_[0] && ended_[1]; }
  // True when at least one earlier record file was there.
  bool hadEarlierFiles() const { return earlier_[0].present() || earlier_[1].present(); }
  // True when the import would add, remove or change a member.
  bool anyChange() const;
  const ChangeCounts& counts(MemberKind kind) const { return counts_[Index(kind)]; }

 private:
  // A field's bytes in a record: from its first byte to the next field's, so that a terminator
  // or a gap belongs to the field before it; `room` bounds its text.
  struct FieldRange {
    int field;
    std::size_t begin;
    std::size_t end;
    std::size_t room;  // 0: the adult flag word
  };
  struct ByteMap {
    int count = 0;
    FieldRange at[kMaxFields];
  };
  static int Index(MemberKind kind) { return kind == MemberKind::kScout ? 0 : 1; }
  static ByteMap MapOf(MemberKind kind);
  std::string_view TextOf(const FieldRange& range, const unsigned char* record, char* word) const;
  void Fail(MemberKind kind);

  ChangeListener* listener_;
  EarlierRecords earlier_[2];
  ChangeCounts counts_[2];
  ByteMap maps_[2];
  bool ended_[2] = {false, false};
  bool failed_ = false;
  MemberKind failedKind_ = MemberKind::kScout;
  unsigned char now_[kRecordSize];
  unsigned char before_[kRecordSize];
  char nowWord_[8];
  char beforeWord_[8];
  ChangedField changes_[kMaxFields];
};

// "A scouts added, R removed, C changed; A adults added, R removed, C changed."
std::string ChangeCountsText(const ChangeCounts& scouts, const ChangeCounts& adults);

// The paragraph a completed conversion's notice adds about the files it replaced: the counts
// when the import changes something, a warning when the earlier files held exactly these
// members; empty when there were no earlier record files or the comparison is not complete.
std::string ReplacedFilesParagraph(const RecordComparison& comparison);

}  // namespace ledger

#endif  // LEDGER_CORE_RECORD_COMPARE_H_
