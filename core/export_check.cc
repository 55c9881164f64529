#include "core/export_check.h"

#include <memory>
#include <new>

#include "core/export_reader.h"
#include "core/file_stream.h"
#include "core/records.h"

namespace ledger {
namespace {

bool Warn(NoticeSink& sink, const std::string& name, const char* caption) {
  sink.Show(Notice{NoticeKind::kWarning, name, caption});
  return false;
}

// Tells `listener` of one member and of each field its record cuts.
void CheckMember(MemberKind kind, std::size_t number, std::size_t line, const FieldViews& fields,
                 CheckListener& listener, CheckCounts& counts) {
  listener.OnMember(kind, number, line, fields);
  for (int k = 0; k < kMaxFields; ++k) {
    const std::size_t room = kind == MemberKind::kScout ? ScoutFieldRoom(k) : AdultFieldRoom(k);
    if (room > 0 && fields.field[k].size() > room) {
      ++counts.cuts;
      listener.OnCut(kind, number, CutField{line, k, room, fields.field[k].size()});
    }
  }
}

struct CheckState {
  explicit CheckState(ByteSource& source) : reader(source) {}
  ExportReader reader;
  ExportLine line;
  FieldViews fields;
};

}  // namespace

bool CheckExport(ByteSource& source, const std::string& exportName, CheckListener& listener,
                 CheckCounts& counts, NoticeSink& sink) {
  counts = CheckCounts();
  try {
    auto state = std::make_unique<CheckState>(source);
    const ReadResult header = state->reader.ReadHeader(kExportHeader);
    if (header == ReadResult::kError) {
      return Warn(sink, exportName, kReadFailedCaption);
    }
    if (header == ReadResult::kEnd) {
      sink.Show(Notice{NoticeKind::kInformation, kInvalidFormatText, kNoticeCaption});
      return false;
    }
    MemberKind section = MemberKind::kScout;
    for (;;) {
      const ReadResult result = state->reader.Next(state->line);
      if (result == ReadResult::kEnd) {
        return true;
      }
      if (result == ReadResult::kError) {
        return Warn(sink, exportName, kReadFailedCaption);
      }
      const std::string_view text = state->line.text;
      if (section == MemberKind::kScout) {
        const ScoutsSectionLine kind = ClassifyScoutsSectionLine(text);
        if (kind == ScoutsSectionLine::kAdultsMarker) {
          section = MemberKind::kAdult;
        }
        if (kind != ScoutsSectionLine::kScout) {
          continue;
        }
      }
      SplitFieldViews(text, state->fields);
      std::size_t& number = section == MemberKind::kScout ? counts.scouts : counts.adults;
      CheckMember(section, ++number, state->reader.lineNumber(), state->fields, listener, counts);
    }
  } catch (const std::bad_alloc&) {
    sink.Show(Notice{NoticeKind::kWarning, kOutOfMemoryText, kNoticeCaption});
    return false;
  }
}

bool CheckExportFile(const std::string& exportPath, CheckListener& listener, CheckCounts& counts,
                     NoticeSink& sink) {
  FileStream input;
  if (!input.Open(exportPath, "rb")) {
    counts = CheckCounts();
    return Warn(sink, exportPath, kOpenFailedCaption);
  }
  FileSource source(input.get());
  return CheckExport(source, exportPath, listener, counts, sink);
}

}  // namespace ledger
