#include "core/export_walk.h"

#include <memory>

#include "core/export_reader.h"

namespace ledger {
namespace {

// What a walk reads into, taken once per walk and never per member.
struct WalkState {
  explicit WalkState(ByteSource& source) : reader(source) {}
  ExportReader reader;
  ExportLine line;
  FieldViews fields;
};

}  // namespace

WalkEnd WalkExport(ByteSource& source, MemberListener& listener, FormatFault* fault) {
  auto walk = std::make_unique<WalkState>(source);
  const ReadResult header = walk->reader.ReadHeader(kExportHeader);
  if (fault != nullptr) {
    *fault = walk->reader.headerFault();
  }
  if (header != ReadResult::kLine) {
    return header == ReadResult::kError ? WalkEnd::kReadFailed : WalkEnd::kInvalidFormat;
  }
  MemberKind section = MemberKind::kScout;
  std::size_t number = 0;
  if (!listener.OnSectionStart(section)) {
    return WalkEnd::kStopped;
  }
  for (;;) {
    const ReadResult result = walk->reader.Next(walk->line, walk->fields);
    if (result == ReadResult::kError) {
      return WalkEnd::kReadFailed;
    }
    if (result == ReadResult::kEnd) {
      break;
    }
    if (section == MemberKind::kScout) {
      const ScoutsSectionLine kind = ClassifyScoutsSectionLine(walk->line.text);
      if (kind == ScoutsSectionLine::kScoutsMarker) {
        continue;
      }
      if (kind == ScoutsSectionLine::kAdultsMarker) {
        if (!listener.OnSectionEnd(section) || !listener.OnSectionStart(MemberKind::kAdult)) {
          return WalkEnd::kStopped;
        }
        section = MemberKind::kAdult;
        number = 0;
        continue;
      }
    }
    if (!listener.OnMember(section, ++number, walk->reader.lineNumber(), walk->fields)) {
      return WalkEnd::kStopped;
    }
  }
  // An export without an "Adults" line has an empty adults section.
  if (!listener.OnSectionEnd(section)) {
    return WalkEnd::kStopped;
  }
  if (section == MemberKind::kScout && (!listener.OnSectionStart(MemberKind::kAdult) ||
                                        !listener.OnSectionEnd(MemberKind::kAdult))) {
    return WalkEnd::kStopped;
  }
  return WalkEnd::kComplete;
}

Notice WalkFailureNotice(WalkEnd end, FormatFault fault, const ByteSource& source,
                         const std::string& exportName) {
  if (end == WalkEnd::kInvalidFormat) {
    return Notice{NoticeCode::kInvalidFormat, std::string(), fault};
  }
  Notice notice{NoticeCode::kReadFailed, exportName};
  notice.problem = source.Cut() ? FileProblem{FileFault::kChangedWhileRead, 0, std::string()}
                                : SystemProblem(source.Error());
  return notice;
}

}  // namespace ledger
