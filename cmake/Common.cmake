# Shared settings and helpers of both builds (Windows cross build and native Linux build).
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# Both Windows builds run their tests: x86_64 under the host's wine64, PE32 under Wine 10's WoW64 mode
# from the sid root (tools/sid-session); each build's entries are named <tag>.<test>.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SX_BUILD_TAG win32)
elseif(WIN32)
  set(SX_BUILD_TAG win64)
else()
  set(SX_BUILD_TAG native)
endif()

if(WIN32)
  set(SX_WINDOWS ON)
  set(SX_NATIVE OFF)
  add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
  add_compile_options(-Wall -Wextra)
else()
  set(SX_WINDOWS OFF)
  set(SX_NATIVE ON)
  add_compile_options(-Wall -Wextra -fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own sources are not held to our warning flags.
foreach(_t gtest gtest_main gmock gmock_main)
  if(TARGET ${_t})
    target_compile_options(${_t} PRIVATE -w)
  endif()
endforeach()

# The private wine prefix that the build directory owns; tools/test creates and warms it. SX_WINE is
# the wine that runs this build's programs (the toolchain file sets it); scripts call it, and find
# wine, winepath and wineserver of the same Wine on PATH.
set(SX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(SX_TEST_ENV
    "WINEPREFIX=${SX_WINEPREFIX}" "WINEARCH=win64" "WINEDEBUG=-all" "SX_WINE=${SX_WINE}"
    "SX_BUILD_TAG=${SX_BUILD_TAG}" "SX_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "SX_BINARY_DIR=${CMAKE_BINARY_DIR}")
if(SX_WINE MATCHES "/tools/sid-bin/wine$")
  # Under the sid root's Wine every entry passes tools/sid-bin/sid-test first (inside
  # tools/sid-session, on a kernel that runs 32-bit code; 77 is its skip), and that Wine comes
  # first on PATH.
  set(SX_TEST_GATE ${CMAKE_SOURCE_DIR}/tools/sid-bin/sid-test)
  set(SX_TEST_PATH "PATH=path_list_prepend:${CMAKE_SOURCE_DIR}/tools/sid-bin")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SX_TEST_GATE} ${SX_WINE})
else()
  set(SX_TEST_GATE "")
  set(SX_TEST_PATH "")
  if(WIN32)
    list(APPEND SX_TEST_ENV "WINELOADER=${SX_WINE}")
  endif()
endif()

# sx_test_properties(<test> [TIMEOUT s] [LOCKS ...] [DAV]): the environment of this build's wine,
# the time limit, the shared resources the test uses ("registry", "display") and the WebDAV fixture.
# Other arguments (the sources of sx_add_test, a script's arguments) are passed over.
function(sx_test_properties test)
  cmake_parse_arguments(T "DAV;NO_MAIN" "TIMEOUT" "LOCKS;SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${SX_TEST_ENV}" TIMEOUT ${T_TIMEOUT})
  if(SX_TEST_PATH)
    set_tests_properties(${test} PROPERTIES ENVIRONMENT_MODIFICATION "${SX_TEST_PATH}" SKIP_RETURN_CODE 77)
  endif()
  if(T_LOCKS)
    set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_DAV)
    sx_dav_fixture()
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED dav)
  endif()
endfunction()

# sx_add_script_test(<name> <script> <args...> [TIMEOUT s] [LOCKS ...] [DAV]): a bash script that
# drives this build's programs under its wine.
function(sx_add_script_test name script)
  cmake_parse_arguments(T "DAV" "TIMEOUT" "LOCKS" ${ARGN})
  add_test(NAME ${SX_BUILD_TAG}.${name} COMMAND ${SX_TEST_GATE} bash ${script} ${T_UNPARSED_ARGUMENTS})
  sx_test_properties(${SX_BUILD_TAG}.${name} ${ARGN})
endfunction()

# The private Apache WebDAV server (tools/dav-server) as a CTest fixture named "dav": started once
# before the first test that needs it, stopped after the last one. Its state (config, tree, access log
# and dav-server.txt with port, url, tree, log and credentials) lies in <build>/dav; the Windows tests
# read it through storage/tests/ApacheFixture.h.
function(sx_dav_fixture)
  get_property(_done GLOBAL PROPERTY SX_DAV_FIXTURE_DONE)
  if(_done)
    return()
  endif()
  set_property(GLOBAL PROPERTY SX_DAV_FIXTURE_DONE ON)
  add_test(NAME ${SX_BUILD_TAG}.dav_server_start
           COMMAND bash ${CMAKE_SOURCE_DIR}/tools/dav-server start ${CMAKE_BINARY_DIR}/dav)
  add_test(NAME ${SX_BUILD_TAG}.dav_server_stop
           COMMAND bash ${CMAKE_SOURCE_DIR}/tools/dav-server stop ${CMAKE_BINARY_DIR}/dav)
  set_tests_properties(${SX_BUILD_TAG}.dav_server_start PROPERTIES FIXTURES_SETUP dav TIMEOUT 60)
  set_tests_properties(${SX_BUILD_TAG}.dav_server_stop PROPERTIES FIXTURES_CLEANUP dav TIMEOUT 60)
endfunction()

# sx_add_test(<name> SOURCES ... [LIBS ...] [LOCKS ...] [TIMEOUT s] [NO_MAIN] [DAV])
# One ctest entry per test executable; Windows executables run under the build's wine (the
# toolchain's emulator).
# LOCKS names shared resources ("registry", "apache", "display") that tests must not use at once.
# DAV: the test needs the private WebDAV server (fixture "dav" above).
function(sx_add_test name)
  cmake_parse_arguments(T "NO_MAIN;DAV" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock)
  if(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME ${SX_BUILD_TAG}.${name} COMMAND ${name} --gtest_color=no)
  sx_test_properties(${SX_BUILD_TAG}.${name} ${ARGN})
endfunction()

# sx_add_images(<target> <rc file>): the target's resource script names the drawn bitmaps
# (storage/res/draw-images.pl) and the resource identifiers of storage/uGLBResources.h.
function(sx_add_images target rc)
  get_property(_images GLOBAL PROPERTY SX_IMAGES)
  add_dependencies(${target} sx_images)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${_images} ${CMAKE_SOURCE_DIR}/storage/uGLBResources.h)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/res ${CMAKE_SOURCE_DIR}/storage)
endfunction()
