#include "core/notice.h"

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

}  // namespace ledger
