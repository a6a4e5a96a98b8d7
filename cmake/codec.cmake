# The codec behind packed blocks (archive/block.cpp, the only file that
# knows it). KORIN_CODEC: "auto" (libdeflate where it is found, else zlib),
# "zlib" or "libdeflate". The stream is the standard zlib format either way;
# libdeflate packs and unpacks whole blocks about three times as fast and a
# little smaller. zlib stays linked beside it for what libdeflate cannot do.
# The Windows build has no libdeflate (Debian packages none for mingw-w64):
# there, and so in the update programs, it is zlib alone.
set(KORIN_CODEC auto CACHE STRING "Codec of packed blocks: auto, zlib or libdeflate")
set_property(CACHE KORIN_CODEC PROPERTY STRINGS auto zlib libdeflate)

add_library(korin_codec INTERFACE)
target_link_libraries(korin_codec INTERFACE korin_zlib)
set(KORIN_BLOCK_CODEC zlib)
if(NOT WIN32 AND NOT KORIN_CODEC STREQUAL "zlib")
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(KORIN_LIBDEFLATE QUIET IMPORTED_TARGET libdeflate)
  endif()
  if(TARGET PkgConfig::KORIN_LIBDEFLATE)
    target_link_libraries(korin_codec INTERFACE PkgConfig::KORIN_LIBDEFLATE)
    set(KORIN_BLOCK_CODEC libdeflate)
  else()
    find_library(KORIN_LIBDEFLATE_LIBRARY deflate)
    find_path(KORIN_LIBDEFLATE_INCLUDE libdeflate.h)
    if(KORIN_LIBDEFLATE_LIBRARY AND KORIN_LIBDEFLATE_INCLUDE)
      target_link_libraries(korin_codec INTERFACE ${KORIN_LIBDEFLATE_LIBRARY})
      target_include_directories(korin_codec INTERFACE ${KORIN_LIBDEFLATE_INCLUDE})
      set(KORIN_BLOCK_CODEC libdeflate)
    endif()
  endif()
endif()
if(KORIN_CODEC STREQUAL "libdeflate" AND NOT KORIN_BLOCK_CODEC STREQUAL "libdeflate")
  message(FATAL_ERROR "KORIN_CODEC=libdeflate, but no libdeflate was found (libdeflate-dev; none for Windows)")
elseif(NOT KORIN_CODEC MATCHES "^(auto|zlib|libdeflate)$")
  message(FATAL_ERROR "KORIN_CODEC is auto, zlib or libdeflate, not ${KORIN_CODEC}")
endif()
if(KORIN_BLOCK_CODEC STREQUAL "libdeflate")
  target_compile_definitions(korin_codec INTERFACE KORIN_LIBDEFLATE=1)
endif()
message(STATUS "Packed blocks: ${KORIN_BLOCK_CODEC}")
