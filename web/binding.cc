// The page's entry points into the conversion core, exported to JavaScript as plain C functions.
// One run's result stays here until the next run or ledger_release(); the worker copies it out.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "core/convert_memory.h"
#include "core/notice.h"

namespace {

class KeepNotice : public ledger::NoticeSink {
 public:
  explicit KeepNotice(ledger::Notice& kept) : kept_(kept) {}
  void Show(const ledger::Notice& notice) override { kept_ = notice; }

 private:
  ledger::Notice& kept_;
};

struct RunResult {
  bool completed = false;
  ledger::Notice notice;
  ledger::MemoryOutputs outputs;
};

RunResult& LastRun() {
  static RunResult run;
  return run;
}

const std::string* OutputAt(int index) {
  const ledger::MemoryOutputs& outputs = LastRun().outputs;
  switch (index) {
    case 0:
      return &outputs.version;
    case 1:
      return &outputs.scouts;
    case 2:
      return &outputs.adults;
    default:
      return nullptr;
  }
}

}  // namespace

extern "C" {

// Converts the `size` export bytes at `bytes`; returns 1 when the conversion completed, else 0.
EMSCRIPTEN_KEEPALIVE int ledger_convert(const char* bytes, std::size_t size) {
  RunResult& run = LastRun();
  run = RunResult();
  KeepNotice sink(run.notice);
  run.completed = ledger::ConvertExportBytes(std::string_view(bytes, size), run.outputs, sink);
  return run.completed ? 1 : 0;
}

// The last run's notice: 0 for information, 1 for a warning.
EMSCRIPTEN_KEEPALIVE int ledger_notice_kind() {
  return LastRun().notice.kind == ledger::NoticeKind::kWarning ? 1 : 0;
}

// The last run's notice caption, as a NUL-terminated UTF-8 string.
EMSCRIPTEN_KEEPALIVE const char* ledger_notice_caption() {
  return LastRun().notice.caption.c_str();
}

// The last run's notice text; its paragraphs are separated by an empty line.
EMSCRIPTEN_KEEPALIVE const char* ledger_notice_text() {
  return LastRun().notice.text.c_str();
}

// The bytes of output `index` (0 PVERSION.DAT, 1 CPERW.DAT, 2 APERW.DAT), or null.
EMSCRIPTEN_KEEPALIVE const char* ledger_output_data(int index) {
  const std::string* output = OutputAt(index);
  return output ? output->data() : nullptr;
}

// The size of output `index` in bytes, 0 for an unknown index.
EMSCRIPTEN_KEEPALIVE std::size_t ledger_output_size(int index) {
  const std::string* output = OutputAt(index);
  return output ? output->size() : 0;
}

// Frees the last run's outputs so that the memory serves the next run.
EMSCRIPTEN_KEEPALIVE void ledger_release() {
  LastRun() = RunResult();
}

// The fixed texts the page shows, by name; null for an unknown name.
EMSCRIPTEN_KEEPALIVE const char* ledger_text(const char* name) {
  static const struct {
    std::string_view name;
    const char* text;
  } kTexts[] = {
      {"dialogTitle", ledger::kDialogTitle},         {"dialogPurpose", ledger::kDialogPurposeText},
      {"dialogBefore", ledger::kDialogBeforeText},   {"noticeCaption", ledger::kNoticeCaption},
      {"invalidFormat", ledger::kInvalidFormatText}, {"outOfMemory", ledger::kOutOfMemoryText},
      {"dropOneFile", ledger::kDropOneFileText},
  };
  for (const auto& entry : kTexts) {
    if (entry.name == name)
      return entry.text;
  }
  return nullptr;
}

}  // extern "C"
