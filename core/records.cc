#include "core/records.h"

#include <cstring>

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

template <std::size_t N>
void ApplyLayout(const Copy (&layout)[N], const FieldTable& fields, unsigned char* record) {
  std::memset(record, 0, kRecordSize);
  for (const Copy& copy : layout) {
    const char* field = fields.Field(copy.field);
    const std::size_t length = std::strlen(field);  // at most kFieldWidth - 1
    unsigned char* out = record + copy.offset;
    if (copy.width == kWhole) {
      std::memcpy(out, field, length + 1);
    } else {
      const std::size_t n = length < copy.width ? length : copy.width;
      std::memcpy(out, field, n);
      std::memset(out + n, 0, copy.width - n);
    }
  }
}

}  // namespace

void BuildScoutRecord(const FieldTable& fields, ScoutRecord& record) {
  ApplyLayout(kScoutLayout, fields, record.bytes);
}

void BuildAdultRecord(const FieldTable& fields, AdultRecord& record) {
  ApplyLayout(kAdultLayout, fields, record.bytes);
  // A 16-bit little-endian word: 1 when field 13 reads "yes" in any case, after trailing blanks
  // were trimmed by the split.
  const bool flag = EqualsIgnoreAsciiCase(fields.Field(kAdultFlagField), "yes");
  record.bytes[kAdultFlagOffset] = flag ? 1 : 0;
  record.bytes[kAdultFlagOffset + 1] = 0;
}

}  // namespace ledger
