# The same sources as PE32+ (x86_64), run under the host's wine64 by the tests;
# -DSX_WINE=<source>/tools/sid-bin/wine runs them under the sid root's Wine 10 instead.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SX_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
if(NOT SX_WINE)
  set(SX_WINE /usr/lib/wine/wine64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${SX_WINE})
