// The literal design of a conversion, to time the converter against: the export read with
// fgets in pieces of at most 999 bytes, each piece's line feed cut off, its TAB-separated fields
// copied into a table of 20 fields of 100 bytes, a 512-byte record built from the table with
// strncpy, and the record written with a seek to its offset and one fwrite into a C stream,
// truncating each output in place. Its records are not the converter's: only the work and the
// reads and writes are alike. The outputs go beside the export as LITERAL0.DAT to LITERAL2.DAT.
//
//   literal_design EXPORT_FILE

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kFields = 20;
constexpr int kWidth = 100;
constexpr long kRecord = 512;

std::string Beside(const std::string& path, int index) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  return dir + "/LITERAL" + std::to_string(index) + ".DAT";
}

void SplitFields(const char* line, char (&table)[kFields][kWidth]) {
  for (int k = 0; k < kFields; ++k) {
    const char* tab = std::strchr(line, '\t');
    const std::size_t n = tab != nullptr ? static_cast<std::size_t>(tab - line) : std::strlen(line);
    const std::size_t keep = n < kWidth - 1 ? n : kWidth - 1;
    std::memcpy(table[k], line, keep);
    table[k][keep] = '\0';
    for (std::size_t end = keep; end > 0 && table[k][end - 1] == ' '; --end) {
      table[k][end - 1] = '\0';
    }
    line = tab != nullptr ? tab + 1 : line + n;
  }
}

// Sixteen fields at 31-byte strides, each cut to 30 bytes: about the copies of a real layout.
void BuildRecord(const char (&table)[kFields][kWidth], char (&record)[kRecord]) {
  std::memset(record, 0, sizeof record);
  for (int k = 0; k < 16; ++k) {
    std::memcpy(record + 31 * k, table[k], strnlen(table[k], 30));
  }
}

// Writes one record per member line into `out` until an "Adults" line (when `scouts`) or the end.
bool WriteSection(std::FILE* in, std::FILE* out, bool scouts) {
  char piece[1000];
  char table[kFields][kWidth];
  char record[kRecord];
  long offset = 0;
  while (std::fgets(piece, sizeof piece, in) != nullptr) {
    if (char* lf = std::strchr(piece, '\n')) {
      *lf = '\0';
    }
    if (char* cr = std::strchr(piece, '\r')) {
      *cr = '\0';
    }
    if (scouts && strcasecmp(piece, "Scouts") == 0) {
      continue;
    }
    if (scouts && strcasecmp(piece, "Adults") == 0) {
      break;
    }
    SplitFields(piece, table);
    BuildRecord(table, record);
    std::fseek(out, offset, SEEK_SET);
    if (std::fwrite(record, kRecord, 1, out) != 1) {
      return false;
    }
    offset += kRecord;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: literal_design EXPORT_FILE\n", stderr);
    return 2;
  }
  std::FILE* files[3];
  for (int i = 0; i < 3; ++i) {
    files[i] = std::fopen(Beside(argv[1], i).c_str(), "wb");
    if (files[i] == nullptr) {
      std::perror(argv[1]);
      return 1;
    }
  }
  std::fputs("version line 1\r\nversion line 2\r\n", files[0]);
  std::fclose(files[0]);
  std::FILE* in = std::fopen(argv[1], "rb");
  char header[1000];
  if (in == nullptr || std::fgets(header, sizeof header, in) == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = WriteSection(in, files[1], true) && WriteSection(in, files[2], false);
  std::fclose(files[1]);
  std::fclose(files[2]);
  std::fclose(in);
  return written ? 0 : 1;
}
