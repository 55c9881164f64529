#include "core/records.h"

#include <array>
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

constexpr std::size_t kAdultFlagOffset = 212;

// Whether a copy of `layout` before `step` may have written inside the window of `step`: only
// then must a bounded copy zero what its field leaves free, as the buffer starts all zero.
constexpr bool WrittenBefore(const Copy* layout, std::size_t step) {
  const auto extent = [](const Copy& c) {
    return c.offset + (c.width == kWhole ? kFieldWidth : c.width);
  };
  for (std::size_t j = 0; j < step; ++j) {
    if (layout[j].offset < extent(layout[step]) && layout[step].offset < extent(layout[j])) {
      return true;
    }
  }
  return false;
}

// One copy of a layout, its width and overlaps known when compiling.
template <const auto& kLayout, std::size_t kStep>
void ApplyCopy(const FieldViews& fields, unsigned char* record) {
  constexpr Copy copy = kLayout[kStep];
  const std::string_view field = fields.field[copy.field];  // at most kFieldWidth - 1 bytes
  char* out = reinterpret_cast<char*>(record + copy.offset);
  if constexpr (copy.width == kWhole) {
    byte_words::CopyShort(out, field.data(), field.size());
    out[field.size()] = '\0';
  } else {
    const std::size_t n = field.size() < copy.width ? field.size() : copy.width;
    byte_words::CopyShort(out, field.data(), n);
    if constexpr (WrittenBefore(kLayout, kStep)) {
      std::memset(out + n, 0, copy.width - n);
    }
  }
}

template <const auto& kLayout, std::size_t... kSteps>
void ApplyCopies(const FieldViews& fields, unsigned char* record, std::index_sequence<kSteps...>) {
  (ApplyCopy<kLayout, kSteps>(fields, record), ...);
}

// Clears `record` and applies the copies of `kLayout` in order.
template <const auto& kLayout>
void ApplyLayout(const FieldViews& fields, unsigned char* record) {
  std::memset(record, 0, kRecordSize);
  ApplyCopies<kLayout>(fields, record, std::make_index_sequence<std::size(kLayout)>());
}

// The room of `field` in `layout`, derived from the copies that follow its own.
template <std::size_t N>
constexpr std::size_t RoomOf(const Copy (&layout)[N], int field) {
  for (std::size_t i = 0; i < N; ++i) {
    if (layout[i].field != field) {
      continue;
    }
    const Copy& own = layout[i];
    std::size_t room = own.width == kWhole ? kFieldWidth : own.width;
    for (std::size_t j = i + 1; j < N; ++j) {
      const std::size_t start = layout[j].offset;
      if (own.width == kWhole ? start > own.offset && start - own.offset < room
                              : start >= own.offset && start - own.offset < room) {
        room = start - own.offset;
      }
    }
    return own.width == kWhole ? room - 1 : room;
  }
  return 0;
}

// Every field's room in `layout`, worked out once when compiling: a check asks for each field
// of each member.
template <std::size_t N>
constexpr std::array<std::size_t, kMaxFields> RoomsOf(const Copy (&layout)[N]) {
  std::array<std::size_t, kMaxFields> rooms{};
  for (int field = 0; field < kMaxFields; ++field) {
    rooms[field] = RoomOf(layout, field);
  }
  return rooms;
}

constexpr std::array<std::size_t, kMaxFields> kScoutRooms = RoomsOf(kScoutLayout);
constexpr std::array<std::size_t, kMaxFields> kAdultRooms = RoomsOf(kAdultLayout);

static_assert(kScoutRooms[0] == 15 && kScoutRooms[9] == 37 && kScoutRooms[6] == kFieldBytes);
static_assert(kAdultRooms[11] == 12 && kAdultRooms[5] == 2 && kAdultRooms[13] == 0);

}  // namespace

std::size_t ScoutFieldRoom(int field) {
  return field >= 0 && field < kMaxFields ? kScoutRooms[field] : 0;
}

std::size_t AdultFieldRoom(int field) {
  return field >= 0 && field < kMaxFields ? kAdultRooms[field] : 0;
}

int AdultFlagOf(std::string_view field) {
  return EqualsIgnoreAsciiCase(field, "yes") ? 1 : 0;
}

namespace {

constexpr StoredFields StoredFieldsOf(const std::array<std::size_t, kMaxFields>& rooms,
                                      bool adult) {
  StoredFields stored{0, {}};
  for (int k = 0; k < kMaxFields; ++k) {
    if (rooms[static_cast<std::size_t>(k)] > 0 || (adult && k == kAdultFlagField)) {
      stored.at[stored.count++] = StoredField{k, rooms[static_cast<std::size_t>(k)]};
    }
  }
  return stored;
}

constexpr StoredFields kScoutStored = StoredFieldsOf(kScoutRooms, false);
constexpr StoredFields kAdultStored = StoredFieldsOf(kAdultRooms, true);

}  // namespace

const StoredFields& RecordFields(MemberKind kind) {
  return kind == MemberKind::kScout ? kScoutStored : kAdultStored;
}

const char* AdultFlagWord(std::string_view field) {
  return AdultFlagOf(field) != 0 ? "1" : "0";
}

void BuildScoutRecord(const FieldViews& fields, ScoutRecord& record) {
  ApplyLayout<kScoutLayout>(fields, record.bytes);
}

void BuildAdultRecord(const FieldViews& fields, AdultRecord& record) {
  ApplyLayout<kAdultLayout>(fields, record.bytes);
  // A 16-bit little-endian word.
  record.bytes[kAdultFlagOffset] =
      static_cast<unsigned char>(AdultFlagOf(fields.field[kAdultFlagField]));
  record.bytes[kAdultFlagOffset + 1] = 0;
}

}  // namespace ledger
