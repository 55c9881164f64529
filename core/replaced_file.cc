#include "core/replaced_file.h"

#include "core/system_error.h"

namespace ledger {

bool ReplacedFile::Write(const void* data, std::size_t size) {
  if (stream_.Write(data, size)) {
    return true;
  }
  problem_ = SystemProblem(LastSystemError());
  return false;
}

bool ReplacedFile::Fail(FileProblem problem) {
  problem_ = std::move(problem);
  return false;
}

void ReplacedFile::ForgetTemp() {
  temp_.clear();
  if (temps_ != nullptr) {
    temps_->Forget(slot_);
  }
  slot_ = -1;
}

}  // namespace ledger
