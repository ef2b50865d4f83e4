# The same sources as PE32+ (x86_64), run under wine64 by the tests.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SX_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
