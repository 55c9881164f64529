#include "core/records.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Records from padded views, a word at a time with no branch on a field's length: each word of
// a window is the field's word masked to the bytes it keeps, so a window is written once, its
// zeros included. The layout's copies become segments in ascending record order; a segment's
// words may run past its end, with zeros only, into bytes that a later segment writes.

// Bytes 0xFF then bytes 0: the word from 128 - n on keeps the first n bytes of a word.
struct KeepMasks {
  unsigned char bytes[256] = {};
  constexpr KeepMasks() {
    for (int i = 0; i < 128; ++i) {
      bytes[i] = 0xFF;
    }
  }
};
constexpr KeepMasks kKeepMasks;

// Which bytes a word keeps: those before byte `n` of the field, -64 < n < 100.
using Limit = const unsigned char*;
inline Limit LimitAt(int n) {
  return kKeepMasks.bytes + 128 - n;
}

#if defined(__SSE2__)
constexpr std::size_t kWord = 16;
using Word = __m128i;
inline Word LoadWord(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void StoreWord(unsigned char* p, Word w) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), w);
}
inline Word ZeroWord() {
  return _mm_setzero_si128();
}
inline Word And(Word a, Word b) {
  return _mm_and_si128(a, b);
}
// The bytes of `b` where `a` has none.
inline Word AndNot(Word a, Word b) {
  return _mm_andnot_si128(a, b);
}
inline Word Or(Word a, Word b) {
  return _mm_or_si128(a, b);
}
#else
constexpr std::size_t kWord = 8;
using Word = std::uint64_t;
inline Word LoadWord(const void* p) {
  return byte_words::Load(static_cast<const char*>(p));
}
inline void StoreWord(unsigned char* p, Word w) {
  std::memcpy(p, &w, sizeof w);
}
inline Word ZeroWord() {
  return 0;
}
inline Word And(Word a, Word b) {
  return a & b;
}
inline Word AndNot(Word a, Word b) {
  return ~a & b;
}
inline Word Or(Word a, Word b) {
  return a | b;
}
#endif

// The bytes of `w`, the word at byte `at` of the field, below `limit`; the others zero.
inline Word KeepBelow(Word w, Limit limit, std::size_t at) {
  return And(w, LoadWord(limit + at));
}

// The bytes of `data`, the word at byte `at` of the field, below `limit`; those of `kept` past
// it; and a zero at it.
inline Word Splice(Word data, Word kept, Limit limit, std::size_t at) {
  return Or(And(data, LoadWord(limit + at)), AndNot(LoadWord(limit + at - 1), kept));
}

// Record bytes [at, end) hold field bytes [from, from + end - at), or zero past the field's
// first `width` bytes.
struct Segment {
  int field;
  std::size_t from;
  std::size_t at;
  std::size_t end;
  std::size_t width;
};

constexpr Segment kScoutSegments[] = {
    {0, 0, 0, 16, 15},     {1, 0, 16, 28, 11},    {2, 0, 28, 56, 26},    {3, 0, 56, 84, 26},
    {7, 0, 84, 98, 13},    {8, 0, 98, 112, 13},   {9, 0, 112, 150, 37},  {10, 0, 150, 160, 10},
    {11, 0, 160, 190, 29}, {12, 0, 190, 206, 15}, {13, 0, 206, 226, 11}, {14, 0, 226, 242, 15},
    {15, 0, 242, 254, 11}, {4, 0, 254, 272, 17},
};
constexpr std::size_t kScoutWholeFrom = 272;
constexpr Copy kScoutWhole[] = {{5, 272, kWhole}, {6, 275, kWhole}};

// Field 12 lies inside field 11's window, whose last two bytes follow it; the flag word at 212
// is set after the segments.
constexpr Segment kAdultSegments[] = {
    {0, 0, 0, 16, 15},     {1, 0, 16, 34, 11},    {2, 0, 34, 62, 26},     {3, 0, 62, 90, 26},
    {7, 0, 90, 104, 13},   {8, 0, 104, 118, 13},  {9, 0, 118, 156, 37},   {10, 0, 156, 166, 10},
    {11, 0, 166, 178, 29}, {12, 0, 178, 193, 15}, {11, 27, 193, 212, 29}, {4, 0, 214, 232, 17},
};
constexpr std::size_t kAdultWholeFrom = 232;
constexpr Copy kAdultWhole[] = {{5, 232, kWhole}, {6, 235, kWhole}};

constexpr std::size_t WordsOf(const Segment& s) {
  return (s.end - s.at + kWord - 1) / kWord;
}

// What the bounded copies of a layout leave in a record byte: byte `index` of `field`, kept when
// below the field's length and `width`; or, with index >= width, a zero whatever the field.
// `written` is false for a byte that nothing writes.
struct ByteSourceOf {
  bool written = false;
  int field = 0;
  std::size_t index = 0;
  std::size_t width = 0;
  constexpr bool operator==(const ByteSourceOf& o) const {
    return written == o.written && ((index >= width && o.index >= o.width) ||
                                    (field == o.field && index == o.index && width == o.width));
  }
};

// Whether the segments leave in every byte before `wholeFrom` what the bounded copies of
// `layout` leave there, but for the `skip` bytes from `skipAt` (the adult flag word), reading no
// further into a view than its slack; and whether the whole copies are those of `layout`, in its
// order, with room for a word past their longest.
template <std::size_t N, std::size_t M, std::size_t W>
constexpr bool SegmentsMatch(const Segment (&segments)[N], const Copy (&layout)[M],
                             std::size_t wholeFrom, const Copy (&whole)[W], std::size_t skipAt = 0,
                             std::size_t skip = 0) {
  for (std::size_t b = 0; b < wholeFrom; ++b) {
    ByteSourceOf expected{true, 0, 0, 0};  // the cleared buffer's zero
    for (const Copy& c : layout) {
      if (c.width != kWhole && b >= c.offset && b < c.offset + c.width) {
        expected = ByteSourceOf{true, c.field, b - c.offset, c.width};
      }
    }
    ByteSourceOf got;
    for (const Segment& s : segments) {
      if (b >= s.at && b < s.end) {
        got = ByteSourceOf{true, s.field, s.from + b - s.at, s.width};
      }
    }
    if (!(b >= skipAt && b < skipAt + skip) && !(got == expected)) {
      return false;
    }
  }
  for (std::size_t i = 0; i < N; ++i) {
    const Segment& s = segments[i];
    if (s.end <= s.at || s.from + WordsOf(s) * kWord > kViewSlack ||
        (i > 0 && s.at < segments[i - 1].end)) {
      return false;
    }
  }
  std::size_t next = 0;
  for (const Copy& c : layout) {
    if (c.width != kWhole
            ? c.offset + c.width > wholeFrom
            : next == W || whole[next].field != c.field || whole[next].offset != c.offset ||
                  c.offset < wholeFrom || c.offset + kFieldWidth + kWord > kRecordSize) {
      return false;
    }
    next += c.width == kWhole ? 1 : 0;
  }
  return next == W;
}
static_assert(SegmentsMatch(kScoutSegments, kScoutLayout, kScoutWholeFrom, kScoutWhole));
static_assert(SegmentsMatch(kAdultSegments, kAdultLayout, kAdultWholeFrom, kAdultWhole,
                            kAdultFlagOffset, 2));

template <std::size_t... kWords>
inline void PutWords(unsigned char* out, const char* in, Limit limit,
                     std::index_sequence<kWords...>) {
  (StoreWord(out + kWords * kWord, KeepBelow(LoadWord(in + kWords * kWord), limit, kWords * kWord)),
   ...);
}

template <const auto& kSegments, std::size_t kStep>
inline void PutSegment(const FieldViews& fields, unsigned char* record) {
  constexpr Segment kSegment = kSegments[kStep];
  const std::string_view field = fields.field[kSegment.field];
  const std::size_t kept = field.size() < kSegment.width ? field.size() : kSegment.width;
  PutWords(record + kSegment.at, field.data() + kSegment.from,
           LimitAt(static_cast<int>(kept) - static_cast<int>(kSegment.from)),
           std::make_index_sequence<WordsOf(kSegment)>());
}

// The two whole copies over cleared bytes: the first field and its NUL, then the second field
// and its NUL over it. The second's words take what they keep of the first from the first field
// itself: read back from the record, they would wait for the first's stores to land.
template <const auto& kWhole>
inline void PutWholeCopies(const FieldViews& fields, unsigned char* record) {
  static_assert(std::size(kWhole) == 2 && kWhole[1].offset > kWhole[0].offset);
  constexpr int kShift = static_cast<int>(kWhole[1].offset - kWhole[0].offset);
  const std::string_view first = fields.field[kWhole[0].field];
  const std::string_view second = fields.field[kWhole[1].field];
  const int firstSize = static_cast<int>(first.size());
  const Limit firstLimit = LimitAt(firstSize);
  for (std::size_t at = 0; at <= first.size(); at += kWord) {
    StoreWord(record + kWhole[0].offset + at,
              KeepBelow(LoadWord(first.data() + at), firstLimit, at));
  }
  const Limit secondLimit = LimitAt(static_cast<int>(second.size()));
  const Limit underLimit = LimitAt(firstSize - kShift);
  for (std::size_t at = 0; at <= second.size(); at += kWord) {
    // Where nothing of the first lies under the word, its mask keeps nothing, and the word is
    // read from the first's end, within the view's slack.
    const int from =
        kShift + static_cast<int>(at) < firstSize ? kShift + static_cast<int>(at) : firstSize;
    const Word under = KeepBelow(LoadWord(first.data() + from), underLimit, at);
    StoreWord(record + kWhole[1].offset + at,
              Splice(LoadWord(second.data() + at), under, secondLimit, at));
  }
}

// Clears the record's bytes from `kFrom` on, the last word overlapping the one before it.
template <std::size_t kFrom, std::size_t... kWords>
inline void ClearWords(unsigned char* record, std::index_sequence<kWords...>) {
  constexpr std::size_t kLast = kRecordSize - kWord;
  (StoreWord(record + (kFrom + kWords * kWord < kLast ? kFrom + kWords * kWord : kLast),
             ZeroWord()),
   ...);
}

template <const auto& kSegments, std::size_t... kSteps>
inline void PutSegments(const FieldViews& fields, unsigned char* record,
                        std::index_sequence<kSteps...>) {
  (PutSegment<kSegments, kSteps>(fields, record), ...);
}

template <const auto& kSegments, std::size_t kWholeFrom, const auto& kWholeFields>
void PutRecord(const FieldViews& fields, unsigned char* record) {
  PutSegments<kSegments>(fields, record, std::make_index_sequence<std::size(kSegments)>());
  ClearWords<kWholeFrom>(
      record, std::make_index_sequence<(kRecordSize - kWholeFrom + kWord - 1) / kWord>());
  PutWholeCopies<kWholeFields>(fields, record);
}

}  // namespace

std::size_t ScoutFieldRoom(int field) {
  return field >= 0 && field < kMaxFields ? kScoutRooms[field] : 0;
}

std::size_t AdultFieldRoom(int field) {
  return field >= 0 && field < kMaxFields ? kAdultRooms[field] : 0;
}

int AdultFlagOf(std::string_view field) {
  // Or-ing 0x20 folds only 'Y', 'E' and 'S' onto these three lowercase letters.
  return field.size() == 3 && (field[0] | 0x20) == 'y' && (field[1] | 0x20) == 'e' &&
                 (field[2] | 0x20) == 's'
             ? 1
             : 0;
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
  if (fields.padded) {
    PutRecord<kScoutSegments, kScoutWholeFrom, kScoutWhole>(fields, record.bytes);
  } else {
    ApplyLayout<kScoutLayout>(fields, record.bytes);
  }
}

void BuildAdultRecord(const FieldViews& fields, AdultRecord& record) {
  if (fields.padded) {
    PutRecord<kAdultSegments, kAdultWholeFrom, kAdultWhole>(fields, record.bytes);
  } else {
    ApplyLayout<kAdultLayout>(fields, record.bytes);
  }
  // A 16-bit little-endian word.
  record.bytes[kAdultFlagOffset] =
      static_cast<unsigned char>(AdultFlagOf(fields.field[kAdultFlagField]));
  record.bytes[kAdultFlagOffset + 1] = 0;
}

}  // namespace ledger
