# The payload tool chain: forms an edition's payload archive from its new
# "Korin3.EXE" and "Update.PAK" and appends it to a copy of the program.
#
#   korin_payload_exe(TARGET <name> PROGRAM <executable target>
#                     KORIN3_EXE <file> UPDATE_PAK <file> OUTPUT <path>)
#
# The payload serves drive '#' only, has user value 0 and a packed directory,
# and holds "#:\Korin3.EXE" and "#:\Update.PAK" as packed blocks, in that
# order, directly behind its header, with the directory last. The program's
# copy gets it appended with its 4-byte trailer (pak attach). The same inputs
# give the same bytes.
#
# pak runs on the build host: the native build uses its own pak; a cross
# build makes a host pak from this source tree with the host's compiler.
include_guard(GLOBAL)

if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(KORIN_HOST_BIN ${CMAKE_BINARY_DIR}/host/bin)
  set(KORIN_HOST_PAK ${KORIN_HOST_BIN}/pak)
  ExternalProject_Add(korin_host_pak
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/host
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DKORIN_TESTS=OFF -DKORIN_SANITIZE=OFF -DKORIN_PE_CHECK=ON
    # cfgtool too: scripts/release shows that the native tools come out the
    # same in any tree.
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target pak cfgtool program_pe_test
    INSTALL_COMMAND ""
    # Ninja in the host tree decides what is stale; pak keeps its timestamp
    # when nothing changed, so payloads are not rebuilt needlessly.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${KORIN_HOST_PAK} ${KORIN_HOST_BIN}/cfgtool ${KORIN_HOST_BIN}/program_pe_test)
  set(KORIN_HOST_PAK_TARGET korin_host_pak)
else()
  set(KORIN_HOST_PAK $<TARGET_FILE:pak>)
  set(KORIN_HOST_PAK_TARGET pak)
endif()

function(korin_payload_exe)
  cmake_parse_arguments(P "" "TARGET;PROGRAM;KORIN3_EXE;UPDATE_PAK;OUTPUT" "" ${ARGN})
  foreach(arg TARGET PROGRAM KORIN3_EXE UPDATE_PAK OUTPUT)
    if(NOT P_${arg})
      message(FATAL_ERROR "korin_payload_exe: ${arg} is missing")
    endif()
  endforeach()
  set(payload ${CMAKE_CURRENT_BINARY_DIR}/${P_TARGET}.payload.pak)
  # The native build's test programs are no PE programs.
  set(force "")
  if(NOT WIN32)
    set(force --force)
  endif()
  add_custom_command(
    OUTPUT ${P_OUTPUT}
    BYPRODUCTS ${payload}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${payload} ${P_OUTPUT}
    COMMAND ${KORIN_HOST_PAK} create ${payload} --drives \# --packed-dir --user-value 0
    COMMAND ${KORIN_HOST_PAK} add ${payload} ${P_KORIN3_EXE} --as \#:\\Korin3.EXE
    COMMAND ${KORIN_HOST_PAK} add ${payload} ${P_UPDATE_PAK} --as \#:\\Update.PAK
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${P_PROGRAM}> ${P_OUTPUT}
    COMMAND ${KORIN_HOST_PAK} attach ${P_OUTPUT} ${payload} ${force}
    COMMAND ${KORIN_HOST_PAK} verify ${P_OUTPUT}
    DEPENDS ${P_PROGRAM} ${P_KORIN3_EXE} ${P_UPDATE_PAK} ${KORIN_HOST_PAK} ${KORIN_HOST_PAK_TARGET}
    COMMENT "Attaching the payload to ${P_OUTPUT}"
    VERBATIM)
  add_custom_target(${P_TARGET} ALL DEPENDS ${P_OUTPUT})
endfunction()
