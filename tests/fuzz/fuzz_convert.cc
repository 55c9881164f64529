// Fuzz target: converts arbitrary bytes as an export file, through the same ConvertExport that
// the command runs, and checks what must hold for any input. A broken rule aborts.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/convert_export.h"
#include "core/notice.h"

namespace {

constexpr std::size_t kRecordSize = 512;
constexpr char kVersionBytes[] = "KZV 2.0\r\nDRUV\r\n";

class Capture : public ledger::NoticeSink {
 public:
  void Show(const ledger::Notice& notice) override { notices.push_back(notice); }
  std::vector<ledger::Notice> notices;
};

struct Outcome {
  bool completed = false;
  std::vector<ledger::Notice> notices;
  std::optional<std::string> version;
  std::optional<std::string> scouts;
  std::optional<std::string> adults;
};

[[noreturn]] void Broken(const char* rule) {
  std::fprintf(stderr, "fuzz_convert: broken rule: %s\n", rule);
  std::abort();
}

void Check(bool holds, const char* rule) {
  if (!holds) {
    Broken(rule);
  }
}

struct WorkDir {
  std::string dir;
  std::string exportPath;
  std::string outputs[3];
};

void RemoveWorkDir();

// A private directory on a memory file system when there is one, so no run waits for a disk.
const WorkDir& Work() {
  static const WorkDir work = [] {
    struct stat st;
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/ledger-fuzz-XXXXXX";
    Check(mkdtemp(pattern.data()) != nullptr, "a work directory can be made");
    WorkDir w{pattern,
              pattern + "/Ledger.txt",
              {pattern + "/PVERSION.DAT", pattern + "/CPERW.DAT", pattern + "/APERW.DAT"}};
    return w;
  }();
  static const bool registered = std::atexit(RemoveWorkDir) == 0;
  (void)registered;
  return work;
}

void RemoveWorkDir() {
  const WorkDir& work = Work();
  for (const std::string& path : work.outputs) {
    unlink(path.c_str());
  }
  unlink(work.exportPath.c_str());
  rmdir(work.dir.c_str());
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return std::nullopt;
  }
  std::string bytes;
  char buffer[64 * 1024];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.append(buffer, n);
  }
  std::fclose(file);
  return bytes;
}

Outcome Convert(const std::uint8_t* data, std::size_t size) {
  const WorkDir& work = Work();
  for (const std::string& path : work.outputs) {
    unlink(path.c_str());
  }
  std::FILE* input = std::fopen(work.exportPath.c_str(), "wb");
  Check(input != nullptr, "the export file can be written");
  Check(size == 0 || std::fwrite(data, size, 1, input) == 1, "the export file can be written");
  Check(std::fclose(input) == 0, "the export file can be written");

  Capture sink;
  Outcome outcome;
  outcome.completed = ledger::ConvertExport(work.exportPath, sink);
  outcome.notices = sink.notices;
  outcome.version = ReadFile(work.outputs[0]);
  outcome.scouts = ReadFile(work.outputs[1]);
  outcome.adults = ReadFile(work.outputs[2]);
  return outcome;
}

bool SameNotice(const ledger::Notice& a, const ledger::Notice& b) {
  return a.code == b.code && a.path == b.path;
}

// Lines of the input as a reader sees them: each line feed ends one, and bytes after the last
// line feed make one more.
std::size_t CountLines(std::string_view input) {
  std::size_t lines = 0;
  for (char c : input) {
    lines += c == '\n';
  }
  return lines + (!input.empty() && input.back() != '\n');
}

// Bytes no copy of a layout reaches, and the adult flag word, which is 0 or 1.
void CheckRecords(const std::string& file, std::size_t firstUnused, bool adult) {
  for (std::size_t at = 0; at < file.size(); at += kRecordSize) {
    for (std::size_t i = firstUnused; i < kRecordSize; ++i) {
      Check(file[at + i] == '\0', "the unused tail of every record is zero");
    }
    if (adult) {
      Check(file[at + 212] == 0 || file[at + 212] == 1, "the adult flag word is 0 or 1");
      Check(file[at + 213] == 0, "the adult flag word is 0 or 1");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Outcome first = Convert(data, size);

  Check(first.notices.size() == 1, "a run shows exactly one notice");
  const ledger::Notice& notice = first.notices[0];
  Check(notice.code ==
            (first.completed ? ledger::NoticeCode::kConverted : ledger::NoticeCode::kInvalidFormat),
        "the notice is the success or the invalid-format notice");
  const bool validHeader =
      input.substr(0, 13) == "LedgerExport\n" || input.substr(0, 14) == "LedgerExport\r\n";
  Check(first.completed == validHeader, "exactly the exports with the header line convert");
  Check(first.version == std::string(kVersionBytes), "the version file holds its 15 bytes");

  if (first.completed) {
    Check(first.scouts && first.adults, "a completed run writes both record files");
    Check(first.scouts->size() % kRecordSize == 0 && first.adults->size() % kRecordSize == 0,
          "a record file is a whole number of records");
    const std::size_t records = (first.scouts->size() + first.adults->size()) / kRecordSize;
    Check(records < CountLines(input), "no more records than member lines");
    CheckRecords(*first.scouts, 375, false);
    CheckRecords(*first.adults, 335, true);
  } else {
    Check(!first.scouts && !first.adults, "an invalid export creates no record file");
  }

  const Outcome second = Convert(data, size);
  Check(second.completed == first.completed && second.notices.size() == 1 &&
            SameNotice(second.notices[0], notice),
        "the same input gives the same outcome");
  Check(second.version == first.version && second.scouts == first.scouts &&
            second.adults == first.adults,
        "the same input gives the same bytes");
  return 0;
}
