# Cross-builds 32-bit Windows programs with Debian's mingw-w64 (g++-mingw-w64-i686) and runs
# them under Wine. These are the programs shipped.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LEDGER_MINGW_TRIPLE i686-w64-mingw32)
set(LEDGER_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
