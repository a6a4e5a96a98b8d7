# Flags every target of the project shares.
add_compile_options(-Wall -Wextra)

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
