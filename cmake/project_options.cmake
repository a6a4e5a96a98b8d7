# Flags every target of the project shares.
add_compile_options(-Wall -Wextra)

# The same sources give the same bytes in any folder, at any time and on any
# machine. No folder's name reaches a binary (__FILE__, debug information):
# the source tree becomes "" and the build tree "build/" (the last map that
# fits wins, and the build tree may lie inside the source tree).
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/)
# A Windows program's header holds a time (TimeDateStamp), which the linker
# takes from SOURCE_DATE_EPOCH: the caller's, or else the last commit's time,
# or without git the time of this tree's CMakeLists.txt (an archive made by
# git archive gives every file the commit's time). Taken when configuring.
if(WIN32)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch $ENV{SOURCE_DATE_EPOCH})
  else()
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_failed)
    if(git_failed OR NOT epoch MATCHES "^[0-9]+$")
      file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt epoch "%s" UTC)
    endif()
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is ${epoch}, not a number of seconds")
  endif()
  set(KORIN_SOURCE_DATE_EPOCH ${epoch} CACHE INTERNAL "")
  foreach(language C CXX)
    set(CMAKE_${language}_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch})
  endforeach()
endif()

if(KORIN_FUZZ)
  # Everything is instrumented for coverage; only the targets link libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KORIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Product code has no exceptions and no RTTI; tests (GoogleTest) keep both.
function(korin_product_target target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# korin_runtime(<executable> [FAULTS] [SINGLE_BYTE])
# The one choice an executable makes about the platform layer beneath its
# libraries: the product build or the one with fault points (FAULTS), and the
# double-byte (default) or single-byte code page.
function(korin_runtime target)
  cmake_parse_arguments(R "FAULTS;SINGLE_BYTE" "" "" ${ARGN})
  set_target_properties(${target} PROPERTIES KORIN_FAULTS ${R_FAULTS} KORIN_SINGLE_BYTE ${R_SINGLE_BYTE})
  target_link_libraries(${target} PRIVATE platform_api)
endfunction()

# One test executable per subsystem: ctest runs each once (under Wine for the
# Windows build, where every start costs about a second).
# Tests run on the build with fault points.
function(korin_test name)
  cmake_parse_arguments(T "SINGLE_BYTE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/reasons_checked.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} korin_gtest_main)
  if(T_SINGLE_BYTE)
    korin_runtime(${name} FAULTS SINGLE_BYTE)
  else()
    korin_runtime(${name} FAULTS)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "KORIN_BIN=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
endfunction()
