#include "core/records.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "core/byte_words.h"

namespace ledger {
namespace {

// One step of a record layout. A bounded copy of width w writes exactly w bytes (the field, cut
// or zero-filled); a whole copy writes the field and its NUL, however long it is.
struct Copy {
  int field;
  std::size_t offset;
  std::size_t width;  // 0: whole copy
};

constexpr std::size_t kWhole = 0;

// Field 10 was once a whole copy; at width 10 it keeps a long value out of the fields after it
// and leaves every record whose field 10 has fewer than 40 bytes as it was.
constexpr Copy kScoutLayout[] = {
    {0, 0, 15},       {1, 16, 11},   {2, 28, 26},   {3, 56, 26},   {4, 254, 17},  {5, 272, kWhole},
    {6, 275, kWhole}, {7, 84, 13},   {8, 98, 13},   {9, 112, 37},  {10, 150, 10}, {11, 160, 29},
    {12, 190, 15},    {13, 206, 11}, {14, 226, 15}, {15, 242, 11},
};

// The adult layout places field 12 at 178, inside field 11's 29-byte window (166-194): field 12
// overwrites 178-192 and 193-194 keep the end of field 11. The importer expects exactly this.
constexpr Copy kAdultLayout[] = {
    {0, 0, 15},       {1, 16, 11},      {2, 34, 26},   {3, 62, 26},  {4, 214, 17},
    {5, 232, kWhole}, {6, 235, kWhole}, {7, 90, 13},   {8, 104, 13}, {9, 118, 37},
    {10, 156, 10},    {11, 166, 29},    {12, 178, 15},
};

constexpr int kAdultFlagField = 13;
constexpr std::size_t kAdultFlagOffset = 212;

// A bounded copy of `width` bytes done a word at a time, reading at most kFieldWidth bytes of the
// field's slot and writing exactly the window; false, with nothing written, where it cannot be.
inline bool CopyWindowByWords(const char* field, std::size_t width, unsigned char* out) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  using byte_words::Load;
  if (width < 8 || width + 7 > kFieldWidth) {
    return false;
  }
  std::size_t length = width;  // the field's bytes inside the window
  for (std::size_t k = 0; k < width; k += 8) {
    if (const std::uint64_t nul = byte_words::MarkBytes(Load(field + k), 0)) {
      const std::size_t at = k + static_cast<std::size_t>(__builtin_ctzll(nul)) / 8;
      length = at < width ? at : width;
      break;
    }
  }
  const auto put = [&](std::size_t k) {
    const std::uint64_t word =
        byte_words::KeepLowBytes(Load(field + k), length > k ? length - k : 0);
    std::memcpy(out + k, &word, sizeof word);
  };
  for (std::size_t k = 0; k + 8 < width; k += 8) {
    put(k);
  }
  put(width - 8);  // the last word overlaps the one before; it never reaches past the window
  return true;
#else
  (void)field;
  (void)width;
  (void)out;
  return false;
#endif
}

// One copy of a layout, its width known when compiling, so the word loops unroll.
template <const auto& kLayout, std::size_t kStep>
void ApplyCopy(const FieldTable& fields, unsigned char* record) {
  constexpr Copy copy = kLayout[kStep];
  const char* field = fields.Field(copy.field);
  unsigned char* out = record + copy.offset;
  if (CopyWindowByWords(field, copy.width, out)) {
    return;
  }
  const std::size_t length = std::strlen(field);  // at most kFieldWidth - 1
  if constexpr (copy.width == kWhole) {
    std::memcpy(out, field, length + 1);
  } else {
    const std::size_t n = length < copy.width ? length : copy.width;
    std::memcpy(out, field, n);
    std::memset(out + n, 0, copy.width - n);
  }
}

template <const auto& kLayout, std::size_t... kSteps>
void ApplyCopies(const FieldTable& fields, unsigned char* record, std::index_sequence<kSteps...>) {
  (ApplyCopy<kLayout, kSteps>(fields, record), ...);
}

// Clears `record` and applies the copies of `kLayout` in order.
template <const auto& kLayout>
void ApplyLayout(const FieldTable& fields, unsigned char* record) {
  std::memset(record, 0, kRecordSize);
  ApplyCopies<kLayout>(fields, record, std::make_index_sequence<std::size(kLayout)>());
}

}  // namespace

void BuildScoutRecord(const FieldTable& fields, ScoutRecord& record) {
  ApplyLayout<kScoutLayout>(fields, record.bytes);
}

void BuildAdultRecord(const FieldTable& fields, AdultRecord& record) {
  ApplyLayout<kAdultLayout>(fields, record.bytes);
  // A 16-bit little-endian word: 1 when field 13 reads "yes" in any case, after trailing blanks
  // were trimmed by the split.
  const bool flag = EqualsIgnoreAsciiCase(fields.Field(kAdultFlagField), "yes");
  record.bytes[kAdultFlagOffset] = flag ? 1 : 0;
  record.bytes[kAdultFlagOffset + 1] = 0;
}

}  // namespace ledger
