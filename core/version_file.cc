#include "core/version_file.h"

#include <string_view>

namespace ledger {

bool WriteVersionFile(OutputSink& out) {
  const std::string_view line1 = kVersionLine1;
  const std::string_view line2 = kVersionLine2;
  return out.Write(line1.data(), line1.size()) && out.Write(line2.data(), line2.size());
}

}  // namespace ledger
