#ifndef LEDGER_CORE_OUTPUT_SINK_H_
#define LEDGER_CORE_OUTPUT_SINK_H_

#include <cstddef>

namespace ledger {

// Where a run writes the bytes of one output file.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Appends `size` bytes; false when they did not all go out.
  virtual bool Write(const void* data, std::size_t size) = 0;
};

}  // namespace ledger

#endif  // LEDGER_CORE_OUTPUT_SINK_H_
