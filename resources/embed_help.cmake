# Turns a program's help source into a C++ source holding its --help text and the version, at build time and
# with CMake alone. In the source, lines starting with '#' are comments, lines starting with '@' are for the
# manual page (scripts/make-manual), and everything after the line "@manual" belongs to the manual page only.
# cmake -DINPUT=<help.txt> -DOUTPUT=<file.cpp> -DVERSION=<x.y.z> -P embed_help.cmake
foreach(var INPUT OUTPUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_help.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" text)
string(FIND "${text}" "\n@manual\n" manual)
if(NOT manual EQUAL -1)
  string(SUBSTRING "${text}" 0 ${manual} text)
  string(APPEND text "\n")
endif()
string(REGEX REPLACE "(^|\n)[#@][^\n]*" "" text "${text}")
string(REGEX REPLACE "^\n+" "" text "${text}")
string(REGEX REPLACE "\n\n+$" "\n" text "${text}")
if(text STREQUAL "" OR text MATCHES "\\)help\"")
  message(FATAL_ERROR "embed_help.cmake: ${INPUT} gives no help text, or one that ends the raw string")
endif()

file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by embed_help.cmake; do not edit.\n"
  "#include \"resources/program_text.h\"\n\n"
  "const char kHelpText[] = R\"help(${text})help\";\n"
  "const char kProgramVersion[] = \"${VERSION}\";\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
