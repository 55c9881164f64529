#ifndef LEDGER_CORE_RECORDS_H_
#define LEDGER_CORE_RECORDS_H_

#include <cstddef>
#include <string_view>

#include "core/text_fields.h"

namespace ledger {

inline constexpr std::size_t kRecordSize = 512;

// The two sections of an export, and the two record files they make.
enum class MemberKind { kScout, kAdult };

// The adult field that sets the adult record's flag word instead of being stored as text.
inline constexpr int kAdultFlagField = 13;

// One 512-byte record of CPERW.DAT. A raw buffer: the layout's copies overlap.
struct ScoutRecord {
  unsigned char bytes[kRecordSize];
};

// One 512-byte record of APERW.DAT.
struct AdultRecord {
  unsigned char bytes[kRecordSize];
};

// Clears `record` and copies the scout fields of `fields` into it in layout order.
void BuildScoutRecord(const FieldViews& fields, ScoutRecord& record);

// Clears `record`, copies the adult fields of `fields` into it and sets the flag word.
void BuildAdultRecord(const FieldViews& fields, AdultRecord& record);

// The bytes of field `field` that a scout or adult record holds where the importer reads it: a
// bounded copy up to the first later copy that starts inside its window, a whole copy the bytes
// before the next later copy less its terminator (all 99 when none follows). 0 for a field the
// record does not store as text (past the layout, or the adult flag).
std::size_t ScoutFieldRoom(int field);
std::size_t AdultFieldRoom(int field);

// The adult record's flag word for `field` (field 13 as split, trailing blanks off): 1 when it
// reads "yes" in any case, else 0.
int AdultFlagOf(std::string_view field);

// The fields a record of `kind` stores, in field order: each text field with its room, and the
// adult flag with room 0, stored as a word.
struct StoredField {
  int field;
  std::size_t room;
};
struct StoredFields {
  int count;
  StoredField at[kMaxFields];
};
const StoredFields& RecordFields(MemberKind kind);

// The adult flag's word for `field`, as a preview shows it: "1" or "0".
const char* AdultFlagWord(std::string_view field);

}  // namespace ledger

#endif  // LEDGER_CORE_RECORDS_H_
