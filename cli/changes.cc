#include "cli/changes.h"

#include <cstdio>
#include <string_view>

#include "cli/escape.h"
#include "core/paths.h"
#include "core/record_compare.h"
#include "core/record_file.h"

namespace ledger {
namespace {

const char* KindWord(MemberKind kind) {
  return kind == MemberKind::kScout ? "scout" : "adult";
}

// `text` between double quotes, escaped so that it cannot end the quote nor the line.
std::string Quoted(std::string_view text) {
  return "\"" + EscapeForTerminal(text, /*quote=*/true) + "\"";
}

// Prints each change as the comparison finds it.
class ChangePrinter final : public ChangeListener {
 public:
  ChangePrinter(const std::string& path, const char* given)
      : export_(EscapeForTerminal(given)),
        scouts_(EscapeForTerminal(OutputPath(path, "CPERW.DAT"))),
        adults_(EscapeForTerminal(OutputPath(path, "APERW.DAT"))) {}

  void OnAdded(MemberKind kind, std::size_t number, std::size_t line,
               std::string_view key) override {
    Print(export_ + ":" + std::to_string(line) + ": " + KindWord(kind) + " " +
          std::to_string(number) + " added: " + Quoted(key) + "\n");
  }

  void OnChanged(MemberKind kind, std::size_t number, std::size_t line, std::string_view key,
                 const ChangedField* fields, int count) override {
    std::string text = export_ + ":" + std::to_string(line) + ": " + KindWord(kind) + " " +
                       std::to_string(number) + " changed: " + Quoted(key) + ":";
    for (int c = 0; c < count; ++c) {
      text += (c == 0 ? " field " : "; field ") + std::to_string(fields[c].field) + " " +
              Quoted(fields[c].earlier) + " -> " + Quoted(fields[c].now);
    }
    Print(text + "\n");
  }

  void OnRemoved(MemberKind kind, std::size_t record, std::string_view key) override {
    Print((kind == MemberKind::kScout ? scouts_ : adults_) + ": " + KindWord(kind) + " " +
          std::to_string(record) + " removed: " + Quoted(key) + "\n");
  }

 private:
  static void Print(const std::string& line) { std::fwrite(line.data(), 1, line.size(), stdout); }

  std::string export_;  // each as printed
  std::string scouts_;
  std::string adults_;
};

void PrintCounts(const char* members, const ChangeCounts& counts) {
  std::printf("%s: %zu added, %zu removed, %zu changed, %zu unchanged\n", members, counts.added,
              counts.removed, counts.changed, counts.unchanged);
}

}  // namespace

ChangesResult PrintChanges(const std::string& path, const char* given, NoticeSink& sink) {
  ChangePrinter printer(path, given);
  RecordComparison comparison(&printer);
  if (!CompareExportFile(path, NativePathStyle(), comparison, sink)) {
    std::fflush(stdout);
    return ChangesResult::kFailed;
  }
  PrintCounts("scouts", comparison.counts(MemberKind::kScout));
  PrintCounts("adults", comparison.counts(MemberKind::kAdult));
  // The listing is the whole answer: one that did not reach its reader tells nothing.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    sink.Show(Notice{NoticeCode::kWriteFailed, "standard output"});
    return ChangesResult::kFailed;
  }
  return comparison.anyChange() ? ChangesResult::kChanges : ChangesResult::kNoChange;
}

}  // namespace ledger
