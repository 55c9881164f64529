#include "shell/convert_command.h"

#include "core/convert_export.h"

namespace ledger {
namespace {

// The run on one export, and whether the dialog closes after it.
DialogNext Convert(const std::string& path, NoticeSink& sink, TempFileList* temps) {
  return ConvertExport(path, sink, NativePathStyle(), temps, ExportSource::kRegularFileOnly)
             ? DialogNext::kClose
             : DialogNext::kStayOpen;
}

}  // namespace

DialogNext RunConvertCommand(FileChooser& chooser, NoticeSink& sink, TempFileList* temps) {
  std::optional<std::string> path = chooser.ChooseExportFile();
  if (!path) {
    return DialogNext::kStayOpen;
  }
  return Convert(*path, sink, temps);
}

DialogNext RunDropCommand(const std::vector<std::string>& paths, NoticeSink& sink,
                          TempFileList* temps) {
  if (paths.size() == 1) {
    return Convert(paths.front(), sink, temps);
  }
  if (paths.size() > 1) {
    sink.Show(Notice{NoticeCode::kDropOneFile, std::string()});
  }
  return DialogNext::kStayOpen;
}

}  // namespace ledger
