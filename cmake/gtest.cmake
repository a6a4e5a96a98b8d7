# GoogleTest from Debian's sources, built with the project's own compilers so
# that the same suite runs natively (with the sanitizers) and under Wine.
set(KORIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KORIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

add_library(korin_gtest_main INTERFACE)
target_link_libraries(korin_gtest_main INTERFACE GTest::gtest_main)
# GCC 12 sees an overlapping copy in GoogleTest's own code when optimising
# (a false -Wrestrict); its build would otherwise print that in every log.
target_compile_options(gtest PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
