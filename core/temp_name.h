#ifndef LEDGER_CORE_TEMP_NAME_H_
#define LEDGER_CORE_TEMP_NAME_H_

#include <cstddef>
#include <string>

namespace ledger {

// The longest name a folder entry may have, on every platform this is built for.
inline constexpr std::size_t kMaxNameLength = 255;

// A temporary file's name beside `leaf`: a dot, the name and ".RANDOM.tmp", with a long name cut
// so that the whole still fits a folder entry. The random part makes the name unpredictable, so
// that neither another process nor the leftovers of a killed run can take it first.
template <typename String>
String TempName(const String& leaf, const std::string& random) {
  const std::string suffix = "." + random + ".tmp";
  const std::size_t room = kMaxNameLength - 1 - suffix.size();
  String name(1, '.');
  name += leaf.substr(0, room);
  name.append(suffix.begin(), suffix.end());
  return name;
}

}  // namespace ledger

#endif  // LEDGER_CORE_TEMP_NAME_H_
