#include "core/wide_path.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <vector>

namespace ledger {
namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool HasLongPrefix(const std::wstring& path) {
  return path.compare(0, 4, kLongPrefix) == 0;
}

// The long form of `path`: the prefix only reaches a full, normalised name, which
// GetFullPathNameW gives for any length.
std::wstring LongForm(const std::wstring& path) {
  if (path.size() < MAX_PATH || HasLongPrefix(path)) {
    return path;
  }
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return path;
  }
  std::vector<wchar_t> full(needed + 1, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed + 1, full.data(), nullptr);
  if (length == 0 || length > needed) {
    return path;
  }
  std::wstring result(full.data(), length);
  if (HasLongPrefix(result)) {
    return result;
  }
  if (result.compare(0, 2, L"\\\\") == 0) {
    return kLongUncPrefix + result.substr(2);  // \\server\share\...
  }
  return kLongPrefix + result;
}

}  // namespace

std::wstring WideText(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      &wide[0], length);
  return wide;
}

std::wstring WidePath(const std::string& path) {
  const std::wstring wide = WideText(path);
  return wide.empty() ? wide : LongForm(wide);
}

std::wstring WideChildPath(const std::wstring& folder, const std::wstring& name) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/' && path.back() != L':') {
    path += L'\\';
  }
  return LongForm(path + name);
}

}  // namespace ledger

#endif  // _WIN32
