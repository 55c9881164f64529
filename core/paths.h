#ifndef LEDGER_CORE_PATHS_H_
#define LEDGER_CORE_PATHS_H_

#include <string>
#include <string_view>

namespace ledger {

// How the platform spells paths: its one separator byte, and whether a byte opens a double-byte
// character of the ANSI code page (whose second byte may then equal the separator).
struct PathStyle {
  char separator;
  bool (*isLeadByte)(unsigned char byte);
};

// Backslash paths with the system's double-byte code page on Windows, '/' with single bytes
// elsewhere.
const PathStyle& NativePathStyle();

// Windows paths under a single-byte code page: backslash separator, no lead bytes.
const PathStyle& BackslashPathStyle();

// POSIX paths: '/' separator, every byte stands alone.
const PathStyle& SlashPathStyle();

// Position of the last separator of `path` that is not the second byte of a double-byte
// character, or npos when there is none.
std::size_t FindLastSeparator(std::string_view path, const PathStyle& style = NativePathStyle());

// The bytes of `path` before its last separator; empty when it has none.
std::string DirectoryOf(std::string_view path, const PathStyle& style = NativePathStyle());

// Where the output `fileName` goes for the export at `exportPath`: beside it, or the bare name
// (the current directory) when the export path holds no separator.
std::string OutputPath(std::string_view exportPath, std::string_view fileName,
                       const PathStyle& style = NativePathStyle());

}  // namespace ledger

#endif  // LEDGER_CORE_PATHS_H_
