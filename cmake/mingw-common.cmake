# Cross build of Windows binaries with mingw-w64 (posix thread model), statically linked.
# Expects SX_MINGW_TRIPLET (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${SX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SX_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(_sx_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_sx_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_sx_static} -Wl,--enable-stdcall-fixup")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_sx_static} -Wl,--enable-stdcall-fixup")
