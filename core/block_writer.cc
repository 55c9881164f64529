#include "core/block_writer.h"

namespace ledger {

bool BlockWriter::HandOn() {
  if (used_ > 0 && !failed_) {
    failed_ = !out_->Write(bytes_, used_);
  }
  used_ = 0;
  return !failed_;
}

}  // namespace ledger
