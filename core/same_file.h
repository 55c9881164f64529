#ifndef LEDGER_CORE_SAME_FILE_H_
#define LEDGER_CORE_SAME_FILE_H_

#include <string>

namespace ledger {

// True when both paths name one existing file (through links or other spellings too); on
// Windows the names are in the active code page and the files are compared by volume and index.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace ledger

#endif  // LEDGER_CORE_SAME_FILE_H_
