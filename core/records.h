#ifndef LEDGER_CORE_RECORDS_H_
#define LEDGER_CORE_RECORDS_H_

#include <cstddef>

#include "core/text_fields.h"

namespace ledger {

inline constexpr std::size_t kRecordSize = 512;

// One 512-byte record of CPERW.DAT. A raw buffer: the layout's copies overlap.
struct ScoutRecord {
  unsigned char bytes[kRecordSize];
};

// One 512-byte record of APERW.DAT.
struct AdultRecord {
  unsigned char bytes[kRecordSize];
};

// Clears `record` and copies the scout fields of `fields` into it in layout order.
void BuildScoutRecord(const FieldTable& fields, ScoutRecord& record);
void BuildScoutRecord(const FieldViews& fields, ScoutRecord& record);

// Clears `record`, copies the adult fields of `fields` into it and sets the flag word.
void BuildAdultRecord(const FieldTable& fields, AdultRecord& record);
void BuildAdultRecord(const FieldViews& fields, AdultRecord& record);

// The bytes of field `field` that a scout or adult record holds where the importer reads it: a
// bounded copy up to the first later copy that starts inside its window, a whole copy the bytes
// before the next later copy less its terminator (all 99 when none follows). 0 for a field the
// record does not store as text (past the layout, or the adult flag).
std::size_t ScoutFieldRoom(int field);
std::size_t AdultFieldRoom(int field);

}  // namespace ledger

#endif  // LEDGER_CORE_RECORDS_H_
