#ifndef LEDGER_CORE_EXPORT_CHECK_H_
#define LEDGER_CORE_EXPORT_CHECK_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "core/byte_source.h"
#include "core/export_walk.h"
#include "core/notice.h"
#include "core/records.h"
#include "core/text_fields.h"

namespace ledger {

// A field that its record does not hold whole.
struct CutField {
  std::size_t line;    // the field's 1-based line in the export, the header being line 1
  int field;           // its position in the member line, from 0
  std::size_t keeps;   // the bytes of it that the record keeps
  std::size_t length;  // its length as the conversion sees it: cut to 99, trailing blanks off
};

// Told of what a check finds, as it reads the export.
class CheckListener {
 public:
  virtual ~CheckListener() = default;
  // Member `number` (1-based within its section) at `line`, with its fields as the record takes
  // them; the views are valid during the call only.
  virtual void OnMember(MemberKind kind, std::size_t number, std::size_t line,
                        const FieldViews& fields) {
    (void)kind, (void)number, (void)line, (void)fields;
  }
  // One field of that member that its record cuts, in field order, after OnMember.
  virtual void OnCut(MemberKind kind, std::size_t number, const CutField& cut) = 0;
};

// What a check found in a valid export.
struct CheckCounts {
  std::size_t scouts = 0;
  std::size_t adults = 0;
  std::size_t cuts = 0;
};

// The check as a listener of a walk: counts the members and tells `listener` of each and of each
// field its record cuts. Serves a check alone, or beside a conversion in the same walk.
class ExportCheck final : public MemberListener {
 public:
  explicit ExportCheck(CheckListener& listener) : listener_(listener) {}
  bool OnSectionStart(MemberKind) override { return true; }
  bool OnMember(MemberKind kind, std::size_t number, std::size_t line,
                const FieldViews& fields) override;
  bool OnSectionEnd(MemberKind) override { return true; }
  const CheckCounts& counts() const { return counts_; }

 private:
  CheckListener& listener_;
  CheckCounts counts_;
};

// Reads the export from `source` with exactly the conversion's rules and writes nothing; tells
// `listener` of every member and cut field. Returns true for a valid export, with `counts`
// filled; otherwise false, after one notice to `sink` (the conversion's own for that failure,
// naming `exportName`).
bool CheckExport(ByteSource& source, const std::string& exportName, CheckListener& listener,
                 CheckCounts& counts, NoticeSink& sink);

// CheckExport on the file at `exportPath`; "Unable to open file" when it cannot be opened.
bool CheckExportFile(const std::string& exportPath, CheckListener& listener, CheckCounts& counts,
                     NoticeSink& sink);

}  // namespace ledger

#endif  // LEDGER_CORE_EXPORT_CHECK_H_
