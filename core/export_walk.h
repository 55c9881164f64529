#ifndef LEDGER_CORE_EXPORT_WALK_H_
#define LEDGER_CORE_EXPORT_WALK_H_

#include <cstddef>
#include <string>

#include "core/byte_source.h"
#include "core/notice.h"
#include "core/records.h"
#include "core/text_fields.h"

namespace ledger {

// Told of what a walk of the export reads, in export order. Each call returns false to stop the
// walk, once the listener has shown its own notice.
class MemberListener {
 public:
  virtual ~MemberListener() = default;
  // A section begins: the scouts once the header is known good, the adults once the scouts end.
  virtual bool OnSectionStart(MemberKind kind) = 0;
  // Member `number` (1-based within its section) at line `line` of the export, the header being
  // line 1, with its fields as a record takes them; the views are valid during the call only.
  virtual bool OnMember(MemberKind kind, std::size_t number, std::size_t line,
                        const FieldViews& fields) = 0;
  // The section of `kind` ends: the scouts at an "Adults" line or the end of the input, the
  // adults at the end of the input.
  virtual bool OnSectionEnd(MemberKind kind) = 0;
};

// How a walk ended.
enum class WalkEnd { kComplete, kInvalidFormat, kReadFailed, kStopped };

// The notice of a walk of the export read from `source`, named `exportName`, that ended `end`
// short of completion: the invalid-format notice with `fault`, or "Unable to read file" with why
// (the end reached at another length than the file had, or the system's error).
Notice WalkFailureNotice(WalkEnd end, FormatFault fault, const ByteSource& source,
                         const std::string& exportName);

// The notice of a run or a check that ran out of memory.
inline Notice OutOfMemoryNotice() {
  return Notice{NoticeCode::kOutOfMemory};
}

// Reads the export from `source` once, with the one set of rules every reader of an export
// follows: the header line, then the scouts section, where a "Scouts" line is no member and an
// "Adults" line ends it, then the adults section, where every line is a member. Tells `listener`
// as it goes; for an input that is no export, `fault` (when given) says why. Allocates once; may
// throw std::bad_alloc.
WalkEnd WalkExport(ByteSource& source, MemberListener& listener, FormatFault* fault = nullptr);

}  // namespace ledger

#endif  // LEDGER_CORE_EXPORT_WALK_H_
