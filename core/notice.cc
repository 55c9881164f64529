#include "core/notice.h"

#include "core/system_error.h"

namespace ledger {
namespace {

constexpr char kNoticeCaption[] = "Convert Ledger Files";

struct NoticeText {
  NoticeKind kind;
  const char* caption;
  const char* sentence;  // empty where the message is a file's path
};

// Every notice's kind, caption and sentence, by code.
constexpr NoticeText kTexts[] = {
    {NoticeKind::kInformation, kNoticeCaption,
     "File successfully converted.\n\nYou should now run the File>Import option in Ombrellin to "
     "import your data."},
    {NoticeKind::kInformation, kNoticeCaption,
     "Invalid file format.\n\nPlease re-export your data from Vantorel and try again."},
    {NoticeKind::kWarning, "Unable to create file", ""},
    {NoticeKind::kWarning, "Unable to write file", ""},
    {NoticeKind::kWarning, "Unable to open file", ""},
    {NoticeKind::kWarning, "Unable to read file", ""},
    {NoticeKind::kWarning, kNoticeCaption, "The conversion stopped: there is not enough memory."},
    {NoticeKind::kWarning, kNoticeCaption, "Please drop one export file at a time."},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<int>(NoticeCode::kDropOneFile) + 1,
              "one text for each notice code");

const NoticeText& TextOf(NoticeCode code) {
  return kTexts[static_cast<int>(code)];
}

}  // namespace

NoticeKind KindOf(NoticeCode code) {
  return TextOf(code).kind;
}

const char* CaptionOf(NoticeCode code) {
  return TextOf(code).caption;
}

const char* SentenceOf(NoticeCode code) {
  return TextOf(code).sentence;
}

bool NamesAFile(NoticeCode code) {
  return *TextOf(code).sentence == '\0';
}

const char* FormatFaultText(FormatFault fault) {
  switch (fault) {
    case FormatFault::kNone:
      break;
    case FormatFault::kEmpty:
      return "the file is empty";
    case FormatFault::kUtf8Bom:
      return "the file begins with a UTF-8 byte-order mark";
    case FormatFault::kUtf16:
      return "the file is UTF-16 text";
    case FormatFault::kNoLineFeed:
      return "line 1 ends without a line feed";
    case FormatFault::kNotTheHeader:
      return "line 1 is not \"LedgerExport\"";
  }
  return "";
}

namespace {

// `phrase` as a sentence of its own: "is ..." gains a subject, the first letter is raised and a
// full stop closes it.
std::string AsSentence(std::string phrase) {
  if (phrase.rfind("is ", 0) == 0) {
    phrase.insert(0, "It ");
  }
  if (!phrase.empty() && phrase[0] >= 'a' && phrase[0] <= 'z') {
    phrase[0] = static_cast<char>(phrase[0] - 'a' + 'A');
  }
  if (!phrase.empty() && phrase.back() != '.') {
    phrase += '.';
  }
  return phrase;
}

}  // namespace

std::string ReasonOf(const Notice& notice) {
  switch (notice.problem.fault) {
    case FileFault::kNone:
      break;
    case FileFault::kSystem:
      return SystemErrorText(notice.problem.system);
    case FileFault::kFolderMissing:
      return "the folder does not exist";
    case FileFault::kFolderRefusesNewFiles:
      return "the folder does not allow new files";
    case FileFault::kNotRegularFile:
      return "is not a regular file";
    case FileFault::kSameFile:
      return "is the same file as " + notice.problem.other;
    case FileFault::kChangedWhileRead:
      return "the file changed while it was read";
  }
  return std::string();
}

std::string DialogTextOf(const Notice& notice) {
  std::string text(notice.message());
  if (notice.fault != FormatFault::kNone) {
    text += "\n\n" + AsSentence(FormatFaultText(notice.fault)) + " " + kExportAgainAdvice;
  }
  const std::string reason = ReasonOf(notice);
  if (!reason.empty()) {
    text += "\n\n" + AsSentence(reason);
  }
  if (!notice.changes.empty()) {
    text += "\n\n" + notice.changes;
  }
  return text;
}

}  // namespace ledger
