# Turns an edition's UTF-8 text table into the initializer of its EditionTexts,
# with every text converted by iconv into the edition's code page.
#   cmake -DTABLE=v106c.txt -DCHARSET=GBK -DOUTPUT=v106c.inc -P generate.cmake
#
# Table: one item a line, key, a tab, the value; a line that starts with a tab
# continues the value above it after a line feed; lines starting with '#' are
# comments. A value made of digits (or 0x and hex digits) is a number.
#
# The whole table is converted first and parsed as bytes afterwards. That is
# safe because tab, line feed and '#' never occur as the second byte of a GBK
# or Big5 character, while a backslash can: escapes are therefore never read
# from converted text, and every byte outside plain ASCII is written as a
# three-digit octal escape, which (unlike \x) cannot swallow the next byte.

cmake_minimum_required(VERSION 3.25)

execute_process(
  COMMAND iconv -f UTF-8 -t ${CHARSET} ${TABLE}
  OUTPUT_FILE ${OUTPUT}.converted
  ERROR_VARIABLE error
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${TABLE}: a text has no ${CHARSET} form: ${error}")
endif()
file(READ ${OUTPUT}.converted hex HEX)
file(REMOVE ${OUTPUT}.converted)

# Split into lines, each a string of hex byte pairs.
string(REGEX MATCHALL ".." bytes "${hex}")
set(lines "")
set(line "")
foreach(b IN LISTS bytes)
  if(b STREQUAL "0a")
    list(APPEND lines "${line}.")  # the dot keeps empty lines in the list
    set(line "")
  else()
    string(APPEND line "${b}")
  endif()
endforeach()
if(NOT line STREQUAL "")
  list(APPEND lines "${line}.")
endif()

function(c_literal hex_text out)
  string(REGEX MATCHALL ".." chars "${hex_text}")
  set(text "\"")
  foreach(b IN LISTS chars)
    math(EXPR v "0x${b}")
    if(v GREATER_EQUAL 32 AND v LESS 127 AND NOT v EQUAL 34 AND NOT v EQUAL 92)
      string(ASCII ${v} c)
    else()
      math(EXPR d1 "${v} / 64")
      math(EXPR d2 "${v} / 8 % 8")
      math(EXPR d3 "${v} % 8")
      set(c "\\${d1}${d2}${d3}")
    endif()
    string(APPEND text "${c}")
  endforeach()
  set(${out} "${text}\"" PARENT_SCOPE)
endfunction()

function(ascii hex_text out)
  string(REGEX MATCHALL ".." chars "${hex_text}")
  set(text "")
  foreach(b IN LISTS chars)
    math(EXPR v "0x${b}")
    string(ASCII ${v} c)
    string(APPEND text "${c}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Collect key -> hex value, joining continuation lines with a line feed.
set(keys "")
set(key "")
foreach(entry IN LISTS lines)
  string(REGEX REPLACE "\\.$" "" entry "${entry}")
  if(entry STREQUAL "" OR entry MATCHES "^23")
    continue()
  endif()
  if(entry MATCHES "^09(.*)$")
    if(key STREQUAL "")
      message(FATAL_ERROR "${TABLE}: a continuation line comes before any key")
    endif()
    string(APPEND value_${key} "0a${CMAKE_MATCH_1}")
    continue()
  endif()
  # A key is printable ASCII (bytes 0x20-0x7f), ended by the first tab.
  string(REGEX MATCH "^(([2-7][0-9a-f])+)09(.*)$" found "${entry}")
  if(NOT found)
    message(FATAL_ERROR "${TABLE}: a line without an ASCII key and a tab")
  endif()
  ascii("${CMAKE_MATCH_1}" key)
  if(key IN_LIST keys)
    message(FATAL_ERROR "${TABLE}: key ${key} given twice")
  endif()
  list(APPEND keys "${key}")
  set(value_${key} "${CMAKE_MATCH_3}")
endforeach()

cmake_path(GET TABLE FILENAME table_name)
set(out "// Generated from ${table_name} (${CHARSET}); do not edit.\n{\n")
foreach(key IN LISTS keys)
  set(v "${value_${key}}")
  ascii("${v}" plain)
  if(v MATCHES "^([2-7][0-9a-f])*$" AND plain MATCHES "^(0x[0-9A-Fa-f]+|[0-9]+)$")
    set(literal "${plain}")
  else()
    c_literal("${v}" literal)
  endif()
  string(APPEND out "    .${key} = ${literal},\n")
endforeach()
string(APPEND out "}\n")

# Rewrite only on change, so a rebuild does not recompile the edition.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL out)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${out}")
