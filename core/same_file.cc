#include "core/same_file.h"

#include <filesystem>
#include <system_error>

namespace ledger {

bool SameFile(const std::string& a, const std::string& b) {
  // Building a path may throw (a narrow name that does not convert); such names are not compared.
  try {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
  } catch (...) {
    return false;
  }
}

}  // namespace ledger
