# The shipped binaries: PE32 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# This kernel cannot execute 32-bit code, so wine32 cannot run here; the tests run the x86_64 build.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
