# The project's version as the programs and their tests see it, from project(): ledger_version
# gives LEDGER_VERSION and its four parts as definitions, and ledger_version.h, with which the
# Windows resource scripts write their version blocks (the parts as words, the text with its
# terminating NUL). LEDGER_VERSION_HEADER names the header, for the resource scripts' dependencies.
set(LEDGER_VERSION_HEADER ${PROJECT_BINARY_DIR}/generated/version/ledger_version.h)
file(CONFIGURE OUTPUT ${LEDGER_VERSION_HEADER} @ONLY CONTENT [[
#define LEDGER_VERSION_WORDS @PROJECT_VERSION_MAJOR@, @PROJECT_VERSION_MINOR@, @PROJECT_VERSION_PATCH@, @PROJECT_VERSION_TWEAK@
#define LEDGER_VERSION_TEXT "@PROJECT_VERSION@\0"
]])
add_library(ledger_version INTERFACE)
target_include_directories(ledger_version INTERFACE ${PROJECT_BINARY_DIR}/generated/version)
target_compile_definitions(ledger_version INTERFACE LEDGER_VERSION="${PROJECT_VERSION}"
  LEDGER_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} LEDGER_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  LEDGER_VERSION_PATCH=${PROJECT_VERSION_PATCH} LEDGER_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})
