# The shipped binaries: PE32 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The tests run them under Wine 10's WoW64 mode from the sid root that tools/setup makes (the host's
# Wine 8 has no WoW64 mode and there is no wine32), inside tools/sid-session.
get_filename_component(SX_WINE ${CMAKE_CURRENT_LIST_DIR}/../tools/sid-bin/wine ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SX_WINE})
