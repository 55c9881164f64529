# Cross-builds the same Windows programs for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64) and runs them under 64-bit Wine (wine64): the Windows code's tests on a
# host that cannot execute 32-bit programs, and its checks for what differs in 64-bit builds.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(LEDGER_MINGW_TRIPLE x86_64-w64-mingw32)
set(LEDGER_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
