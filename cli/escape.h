#ifndef LEDGER_CLI_ESCAPE_H_
#define LEDGER_CLI_ESCAPE_H_

#include <string>
#include <string_view>

namespace ledger {

// `text` as the command prints a name: each control a terminal would act on as a C escape (\n,
// \t, \r, else lowercase \xhh for each of its bytes), every other byte unchanged. The controls are
// C0 and DEL, C1 (U+0080 to U+009F, or a raw byte 0x80 to 0x9F outside valid UTF-8), and the
// bidirectional marks, embeddings, overrides and isolates, which can make a line read as another.
// With `quote`, a double quote prints as \" too, for text that stands between double quotes.
std::string EscapeForTerminal(std::string_view text, bool quote = false);

}  // namespace ledger

#endif  // LEDGER_CLI_ESCAPE_H_
