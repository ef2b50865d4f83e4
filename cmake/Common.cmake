# Shared settings and helpers of both builds (Windows cross build and native Linux build).
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# The shipped PE32 build compiles everything but registers no tests: this machine's kernel runs no
# 32-bit code, so the tests run the x86_64 build of the same sources under wine64.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SX_BUILD_TAG win32)
  set(SX_REGISTER_TESTS OFF)
elseif(WIN32)
  set(SX_BUILD_TAG win64)
  set(SX_REGISTER_TESTS ON)
else()
  set(SX_BUILD_TAG native)
  set(SX_REGISTER_TESTS ON)
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

# The private wine prefix that the build directory owns; tools/test creates and warms it.
set(SX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(SX_TEST_ENV
    "WINEPREFIX=${SX_WINEPREFIX}" "WINEARCH=win64" "WINEDEBUG=-all" "WINELOADER=/usr/lib/wine/wine64"
    "SX_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "SX_BINARY_DIR=${CMAKE_BINARY_DIR}")

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
# One ctest entry per test executable; Windows executables run under wine.
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
  if(NOT SX_REGISTER_TESTS)
    return()
  endif()
  add_test(NAME ${SX_BUILD_TAG}.${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${SX_BUILD_TAG}.${name} PROPERTIES ENVIRONMENT "${SX_TEST_ENV}" TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    set_tests_properties(${SX_BUILD_TAG}.${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_DAV)
    sx_dav_fixture()
    set_tests_properties(${SX_BUILD_TAG}.${name} PROPERTIES FIXTURES_REQUIRED dav)
  endif()
endfunction()

# sx_add_images(<target> <rc file>): the target's resource script names the drawn bitmaps
# (storage/res/draw-images.pl) and the resource identifiers of storage/uGLBResources.h.
function(sx_add_images target rc)
  get_property(_images GLOBAL PROPERTY SX_IMAGES)
  add_dependencies(${target} sx_images)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${_images} ${CMAKE_SOURCE_DIR}/storage/uGLBResources.h)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/res ${CMAKE_SOURCE_DIR}/storage)
endfunction()
