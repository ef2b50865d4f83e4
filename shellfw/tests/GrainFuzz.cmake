# The fuzz target of the item and record readers: built with clang's libFuzzer (the native build
# itself stays on g++) and run for a bounded time as a native test. Left out without clang.
find_program(SX_CLANGXX NAMES clang++ clang++-14)
if(NOT SX_NATIVE OR NOT SX_CLANGXX)
  return()
endif()
set(_fuzz_sources
  ${CMAKE_CURRENT_SOURCE_DIR}/SxGrainRecord_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/shellfw/namespace/SxGrainRecord.cpp
  ${CMAKE_SOURCE_DIR}/shellfw/base/SxStream.cpp
  ${CMAKE_SOURCE_DIR}/shellfw/base/SxPidl.cpp
  ${CMAKE_SOURCE_DIR}/shellfw/base/SxExceptionClass.cpp)
file(GLOB _fuzz_headers ${CMAKE_SOURCE_DIR}/shellfw/namespace/*.h ${CMAKE_SOURCE_DIR}/shellfw/base/*.h)
set(_fuzz_exe ${CMAKE_BINARY_DIR}/bin/grain_record_fuzz)
add_custom_command(OUTPUT ${_fuzz_exe}
  COMMAND ${SX_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
          -I${CMAKE_SOURCE_DIR}/shellfw/namespace -I${CMAKE_SOURCE_DIR}/shellfw/base
          ${_fuzz_sources} -o ${_fuzz_exe}
  DEPENDS ${_fuzz_sources} ${_fuzz_headers}
  COMMENT "Building the grain record fuzz target with clang"
  VERBATIM)
add_custom_target(grain_record_fuzz ALL DEPENDS ${_fuzz_exe})
set(_corpus ${CMAKE_BINARY_DIR}/fuzz/grain_record)
file(MAKE_DIRECTORY ${_corpus})
add_test(NAME native.grain_record_fuzz
  COMMAND ${_fuzz_exe} -max_total_time=20 -timeout=5 -rss_limit_mb=1024 -max_len=4096
          -dict=${CMAKE_CURRENT_SOURCE_DIR}/SxGrainRecord_fuzz.dict ${_corpus})
set_tests_properties(native.grain_record_fuzz PROPERTIES TIMEOUT 120)
