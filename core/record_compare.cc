#include "core/record_compare.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace ledger {
namespace {

// Records read at a time while the keys are taken.
constexpr std::size_t kLoadRecords = 128;

// The key of `record`, its bytes 0-15 up to the first zero byte, zero after its end.
void KeyOf(const unsigned char* record, unsigned char (&key)[16]) {
  std::size_t n = 0;
  while (n < 16 && record[n] != 0) {
    ++n;
  }
  std::memcpy(key, record, n);
  std::memset(key + n, 0, 16 - n);
}

// "N" for `n`, written into `out`, which holds at least 8 bytes.
std::string_view Decimal(unsigned n, char* out) {
  char digits[8];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = digits[count - 1 - i];
  }
  return std::string_view(out, count);
}

}  // namespace

bool MemoryRecords::ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) {
  if (offset > bytes_.size() || bytes_.size() - offset < size) {
    return false;
  }
  std::memcpy(data, bytes_.data() + offset, size);
  return true;
}

std::string_view EarlierRecords::KeyText(const unsigned char* key) {
  std::size_t n = 0;
  while (n < 16 && key[n] != 0) {
    ++n;
  }
  return std::string_view(reinterpret_cast<const char*>(key), n);
}

bool EarlierRecords::Less(std::uint32_t a, std::uint32_t b) const {
  const int order = std::memcmp(keys_[a].bytes, keys_[b].bytes, 16);
  return order < 0 || (order == 0 && a < b);
}

bool EarlierRecords::Load(RecordSource* source) {
  source_ = source;
  present_ = source != nullptr;
  keys_.clear();
  sorted_.clear();
  taken_.clear();
  paired_.clear();
  cacheCount_ = 0;
  if (source == nullptr) {
    return true;
  }
  const unsigned long long size = source->Size();
  if (size % kRecordSize != 0 || size / kRecordSize > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  const auto count = static_cast<std::size_t>(size / kRecordSize);
  keys_.resize(count);
  cache_.resize(kLoadRecords * kRecordSize);
  cacheCount_ = 0;
  for (std::size_t first = 0; first < count; first += kLoadRecords) {
    const std::size_t n = std::min(kLoadRecords, count - first);
    if (!source->ReadAt(static_cast<unsigned long long>(first) * kRecordSize, cache_.data(),
                        n * kRecordSize)) {
      return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
      KeyOf(cache_.data() + i * kRecordSize, keys_[first + i].bytes);
    }
  }
  sorted_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    sorted_[i] = static_cast<std::uint32_t>(i);
  }
  std::sort(sorted_.begin(), sorted_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return Less(a, b); });
  taken_.assign(count, 0);
  paired_.assign(count, 0);
  return true;
}

std::size_t EarlierRecords::Pair(const unsigned char (&key)[16]) {
  const auto below = [this](std::uint32_t index, const unsigned char* k) {
    return std::memcmp(keys_[index].bytes, k, 16) < 0;
  };
  const auto first = std::lower_bound(sorted_.begin(), sorted_.end(), key, below);
  if (first == sorted_.end() || std::memcmp(keys_[*first].bytes, key, 16) != 0) {
    return npos;
  }
  const auto group = static_cast<std::size_t>(first - sorted_.begin());
  const std::size_t at = group + taken_[group];
  if (at >= sorted_.size() || std::memcmp(keys_[sorted_[at]].bytes, key, 16) != 0) {
    return npos;  // every earlier record with this key is paired already
  }
  ++taken_[group];
  paired_[sorted_[at]] = 1;
  return sorted_[at];
}

bool EarlierRecords::Read(std::size_t index, unsigned char* record) {
  if (index - cacheFirst_ >= cacheCount_ || cacheCount_ == 0) {
    if (source_ == nullptr || index >= keys_.size()) {
      return false;
    }
    const std::size_t n = std::min(kLoadRecords, keys_.size() - index);
    cacheCount_ = 0;
    if (!source_->ReadAt(static_cast<unsigned long long>(index) * kRecordSize, cache_.data(),
                         n * kRecordSize)) {
      return false;
    }
    cacheFirst_ = index;
    cacheCount_ = n;
  }
  std::memcpy(record, cache_.data() + (index - cacheFirst_) * kRecordSize, kRecordSize);
  return true;
}

void EarlierRecords::Done() {
  if (source_ != nullptr) {
    source_->Done();
    source_ = nullptr;
  }
  cacheCount_ = 0;
}

RecordComparison::RecordComparison(ChangeListener* listener)
    : listener_(listener), maps_{MapOf(MemberKind::kScout), MapOf(MemberKind::kAdult)} {}

// The layout is read off the records themselves: each field filled alone starts at its first
// byte that is not zero. Each field then owns the bytes up to the next field's first, which is
// where the importer reads it: in the adult record field 12 starts inside field 11's window, so
// the end of that window is read as field 12's.
RecordComparison::ByteMap RecordComparison::MapOf(MemberKind kind) {
  ByteMap map;
  char filled[kFieldBytes];
  std::memset(filled, 'x', sizeof filled);
  const StoredFields& stored = RecordFields(kind);
  for (int c = 0; c < stored.count; ++c) {
    FieldViews fields;
    const StoredField& at = stored.at[c];
    // The flag word is 1 for "yes"; a text field fills its room.
    fields.field[at.field] =
        at.room == 0 ? std::string_view("yes") : std::string_view(filled, sizeof filled);
    unsigned char record[kRecordSize];
    if (kind == MemberKind::kScout) {
      ScoutRecord built;
      BuildScoutRecord(fields, built);
      std::memcpy(record, built.bytes, kRecordSize);
    } else {
      AdultRecord built;
      BuildAdultRecord(fields, built);
      std::memcpy(record, built.bytes, kRecordSize);
    }
    std::size_t begin = 0;
    while (begin < kRecordSize && record[begin] == 0) {
      ++begin;
    }
    map.at[map.count++] = FieldRange{at.field, begin, kRecordSize, at.room};
  }
  std::sort(map.at, map.at + map.count,
            [](const FieldRange& a, const FieldRange& b) { return a.begin < b.begin; });
  for (int c = 0; c < map.count; ++c) {
    map.at[c].end = c + 1 < map.count ? map.at[c + 1].begin : kRecordSize;
  }
  if (map.count > 0) {
    map.at[0].begin = 0;
  }
  return map;
}

bool RecordComparison::Load(RecordSource* scouts, RecordSource* adults) {
  failed_ = false;
  for (MemberKind kind : {MemberKind::kScout, MemberKind::kAdult}) {
    const int k = Index(kind);
    counts_[k] = ChangeCounts();
    ended_[k] = false;
    if (!earlier_[k].Load(kind == MemberKind::kScout ? scouts : adults)) {
      Fail(kind);
      return false;
    }
  }
  return true;
}

void RecordComparison::Fail(MemberKind kind) {
  if (!failed_) {
    failed_ = true;
    failedKind_ = kind;
  }
}

bool RecordComparison::OnSectionStart(MemberKind kind) {
  (void)kind;
  return true;
}

std::string_view RecordComparison::TextOf(const FieldRange& range, const unsigned char* record,
                                          char* word) const {
  if (range.room == 0) {
    // A 16-bit little-endian word.
    return Decimal(static_cast<unsigned>(record[range.begin]) |
                       static_cast<unsigned>(record[range.begin + 1]) << 8,
                   word);
  }
  const std::size_t limit = std::min(range.room, range.end - range.begin);
  std::size_t n = 0;
  while (n < limit && record[range.begin + n] != 0) {
    ++n;
  }
  return std::string_view(reinterpret_cast<const char*>(record + range.begin), n);
}

bool RecordComparison::OnMember(MemberKind kind, std::size_t number, std::size_t line,
                                const FieldViews& fields) {
  if (failed_) {
    return true;
  }
  const int k = Index(kind);
  if (kind == MemberKind::kScout) {
    BuildScoutRecord(fields, *new (now_) ScoutRecord);
  } else {
    BuildAdultRecord(fields, *new (now_) AdultRecord);
  }
  unsigned char key[16];
  KeyOf(now_, key);
  const std::size_t index = earlier_[k].Pair(key);
  if (index == EarlierRecords::npos) {
    ++counts_[k].added;
    if (listener_ != nullptr) {
      listener_->OnAdded(kind, number, line, EarlierRecords::KeyText(key));
    }
    return true;
  }
  if (!earlier_[k].Read(index, before_)) {
    Fail(kind);
    return true;
  }
  if (std::memcmp(now_, before_, kRecordSize) == 0) {
    ++counts_[k].unchanged;
    return true;
  }
  ++counts_[k].changed;
  if (listener_ == nullptr) {
    return true;
  }
  int count = 0;
  const ByteMap& map = maps_[k];
  for (int c = 0; c < map.count; ++c) {
    const FieldRange& range = map.at[c];
    if (std::memcmp(now_ + range.begin, before_ + range.begin, range.end - range.begin) != 0) {
      changes_[count++] = ChangedField{range.field, TextOf(range, before_, beforeWord_),
                                       TextOf(range, now_, nowWord_)};
    }
  }
  // The map is in byte order; a change is told in field order.
  std::sort(changes_, changes_ + count,
            [](const ChangedField& a, const ChangedField& b) { return a.field < b.field; });
  listener_->OnChanged(kind, number, line, EarlierRecords::KeyText(key), changes_, count);
  return true;
}

bool RecordComparison::OnSectionEnd(MemberKind kind) {
  const int k = Index(kind);
  // Records read from a file that changed meanwhile may be part of another version.
  const bool changed = earlier_[k].Changed();
  earlier_[k].Done();
  if (failed_ || changed) {
    Fail(kind);
    return true;
  }
  earlier_[k].ForEachUnpaired([this, kind, k](std::size_t index, std::string_view key) {
    ++counts_[k].removed;
    if (listener_ != nullptr) {
      listener_->OnRemoved(kind, index + 1, key);
    }
  });
  ended_[k] = true;
  return true;
}

bool RecordComparison::anyChange() const {
  for (const ChangeCounts& c : counts_) {
    if (c.added != 0 || c.removed != 0 || c.changed != 0) {
      return true;
    }
  }
  return false;
}

std::string ChangeCountsText(const ChangeCounts& scouts, const ChangeCounts& adults) {
  const auto part = [](const ChangeCounts& c, const char* members) {
    return std::to_string(c.added) + " " + members + " added, " + std::to_string(c.removed) +
           " removed, " + std::to_string(c.changed) + " changed";
  };
  return part(scouts, "scouts") + "; " + part(adults, "adults") + ".";
}

std::string ReplacedFilesParagraph(const RecordComparison& comparison) {
  if (!comparison.complete() || !comparison.hadEarlierFiles()) {
    return std::string();
  }
  if (!comparison.anyChange()) {
    return "The files it replaced held exactly these members. Check that the export is a new one.";
  }
  return "Compared with the files it replaced: " +
         ChangeCountsText(comparison.counts(MemberKind::kScout),
                          comparison.counts(MemberKind::kAdult));
}

}  // namespace ledger
