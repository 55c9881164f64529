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
  if (paths.size() == 1 && !paths.front().empty()) {
    return Convert(paths.front(), sink, temps);
  }
  if (paths.size() > 1) {
    sink.Show(Notice{NoticeCode::kDropOneFile, std::string()});
  }
  return DialogNext::kStayOpen;
}

template <typename Command>
DialogNext DialogCommands::OneAtATime(Command command) {
  if (running_) {
    return DialogNext::kStayOpen;
  }
  // Reset however the command ends, an exception included.
  struct Running {
    bool& flag;
    explicit Running(bool& f) : flag(f) { flag = true; }
    ~Running() { flag = false; }
  } running(running_);
  return command();
}

DialogNext DialogCommands::Ok(FileChooser& chooser, NoticeSink& sink) {
  return OneAtATime([&] { return RunConvertCommand(chooser, sink, temps_); });
}

DialogNext DialogCommands::Drop(const std::vector<std::string>& items, NoticeSink& sink) {
  return OneAtATime([&] { return RunDropCommand(items, sink, temps_); });
}

}  // namespace ledger
