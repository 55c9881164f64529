# What the mingw-w64 toolchain files share; each sets LEDGER_MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR
# and LEDGER_WINE_ARCH (the Wine prefix's architecture, win32 or win64) first. Programs are linked
# statically, so they need no DLL beyond those of Windows.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX thread model gives the full C++ thread library; winpthread is linked in statically.
find_program(CMAKE_C_COMPILER NAMES ${LEDGER_MINGW_TRIPLE}-gcc-posix ${LEDGER_MINGW_TRIPLE}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${LEDGER_MINGW_TRIPLE}-g++-posix ${LEDGER_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LEDGER_MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${LEDGER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Every Windows program of the build runs under Wine in a prefix of the build tree's own, which
# the wrapper creates on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR env LEDGER_WINE_ARCH=${LEDGER_WINE_ARCH}
    ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine-prefix)
