#include "core/paths.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace ledger {
namespace {

bool NoLeadBytes(unsigned char) {
  return false;
}

#ifdef _WIN32
// The system's ANSI code page decides which bytes open a double-byte character.
bool AnsiLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}
#endif

}  // namespace

const PathStyle& BackslashPathStyle() {
  static constexpr PathStyle kStyle{'\\', &NoLeadBytes};
  return kStyle;
}

const PathStyle& SlashPathStyle() {
  static constexpr PathStyle kStyle{'/', &NoLeadBytes};
  return kStyle;
}

// The one place where the platforms differ.
const PathStyle& NativePathStyle() {
#ifdef _WIN32
  static constexpr PathStyle kStyle{'\\', &AnsiLeadByte};
  return kStyle;
#else
  return SlashPathStyle();
#endif
}

std::size_t FindLastSeparator(std::string_view path, const PathStyle& style) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte == static_cast<unsigned char>(style.separator)) {
      last = i;
    } else if (style.isLeadByte(byte)) {
      ++i;  // the trail byte is part of this character, never a separator
    }
  }
  return last;
}

std::string DirectoryOf(std::string_view path, const PathStyle& style) {
  const std::size_t sep = FindLastSeparator(path, style);
  return sep == std::string_view::npos ? std::string() : std::string(path.substr(0, sep));
}

std::string OutputPath(std::string_view exportPath, std::string_view fileName,
                       const PathStyle& style) {
  const std::size_t sep = FindLastSeparator(exportPath, style);
  // A bare file name is in the current directory; its outputs go there too, not to the root.
  if (sep == std::string_view::npos) {
    return std::string(fileName);
  }
  std::string path(exportPath.substr(0, sep));
  path += style.separator;
  path += fileName;
  return path;
}

}  // namespace ledger
