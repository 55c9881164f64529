#ifndef LEDGER_CORE_WIDE_PATH_H_
#define LEDGER_CORE_WIDE_PATH_H_

#ifdef _WIN32
#include <string>

namespace ledger {

// `path`, in the active code page, as the wide name that the file calls take: absolute names of
// MAX_PATH characters or more gain the "\\?\" prefix, so that a deep folder is reached whatever
// the system's long-path setting. Empty when `path` is empty or does not convert.
std::wstring WidePath(const std::string& path);

// Appends `name` to the wide folder `folder` (a path from WidePath, or its folder), keeping the
// "\\?\" prefix rule for the longer result.
std::wstring WideChildPath(const std::wstring& folder, const std::wstring& name);

// `text`, in the active code page, as UTF-16; empty when it does not convert.
std::wstring WideText(const std::string& text);

}  // namespace ledger

#endif  // _WIN32
#endif  // LEDGER_CORE_WIDE_PATH_H_
