#include "core/export_check.h"

#include <new>

#include "core/file_stream.h"
#include "core/system_error.h"

namespace ledger {

bool ExportCheck::OnMember(MemberKind kind, std::size_t number, std::size_t line,
                           const FieldViews& fields) {
  ++(kind == MemberKind::kScout ? counts_.scouts : counts_.adults);
  listener_.OnMember(kind, number, line, fields);
  const StoredFields& stored = RecordFields(kind);
  for (int c = 0; c < stored.count; ++c) {
    const StoredField& at = stored.at[c];
    // The adult flag, stored as a word, has no room to cut.
    if (at.room > 0 && fields.field[at.field].size() > at.room) {
      ++counts_.cuts;
      listener_.OnCut(kind, number,
                      CutField{line, at.field, at.room, fields.field[at.field].size()});
    }
  }
  return true;
}

bool CheckExport(ByteSource& source, const std::string& exportName, CheckListener& listener,
                 CheckCounts& counts, NoticeSink& sink) {
  counts = CheckCounts();
  try {
    ExportCheck check(listener);
    FormatFault fault = FormatFault::kNone;
    const WalkEnd end = WalkExport(source, check, &fault);
    if (end == WalkEnd::kComplete) {
      counts = check.counts();
      return true;
    }
    // The check never stops the walk itself: a stop is a read that failed.
    sink.Show(WalkFailureNotice(end == WalkEnd::kStopped ? WalkEnd::kReadFailed : end, fault,
                                source, exportName));
  } catch (const std::bad_alloc&) {
    sink.Show(OutOfMemoryNotice());
  }
  return false;
}

bool CheckExportFile(const std::string& exportPath, CheckListener& listener, CheckCounts& counts,
                     NoticeSink& sink) {
  FileStream input;
  if (!input.Open(exportPath, "rb")) {
    counts = CheckCounts();
    Notice notice{NoticeCode::kOpenFailed, exportPath};
    notice.problem = SystemProblem(LastSystemError());
    sink.Show(notice);
    return false;
  }
  FileSource source(input.get());
  return CheckExport(source, exportPath, listener, counts, sink);
}

}  // namespace ledger
