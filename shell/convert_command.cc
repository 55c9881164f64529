#include "shell/convert_command.h"

#include "core/convert_export.h"

namespace ledger {

DialogNext RunConvertCommand(FileChooser& chooser, NoticeSink& sink) {
  std::optional<std::string> path = chooser.ChooseExportFile();
  if (!path) {
    return DialogNext::kStayOpen;
  }
  return ConvertExport(*path, sink) ? DialogNext::kClose : DialogNext::kStayOpen;
}

}  // namespace ledger
