# The options of a program's --help against the entries of the OPTIONS
# section of its manual page: each list must hold exactly the other's names.
#   cmake -DPROGRAM=... -DPAGE=... -P ManPageOptions.cmake
# Help lines of CLI11 name their options at an indent of two spaces
# ("  -h,--help", "  --format TEXT"), positionals in capitals ("  DOMAIN
# TEXT"). A page entry is the line after ".TP": ".BR \-h \", \" \-\-help",
# ".BI \-\-dc \" HOST\"", or ".I DOMAIN" for a positional.
foreach(var PROGRAM PAGE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" --help
                OUTPUT_VARIABLE help ERROR_VARIABLE help_err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${rc}): ${help_err}")
endif()
set(in_help)
string(REGEX MATCHALL "\n  -[^ \n]+" entries "${help}")
foreach(entry IN LISTS entries)
  string(REGEX MATCHALL "--?[A-Za-z][-A-Za-z0-9]*" names "${entry}")
  list(APPEND in_help ${names})
endforeach()
string(REGEX MATCHALL "\n  [A-Z][A-Z0-9_]*[ \n]" entries "${help}")
foreach(entry IN LISTS entries)
  string(STRIP "${entry}" name)
  list(APPEND in_help ${name})
endforeach()

file(READ "${PAGE}" page)
string(FIND "${page}" "\n.SH OPTIONS\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${PAGE} has no OPTIONS section")
endif()
string(SUBSTRING "${page}" ${start} -1 section)
string(SUBSTRING "${section}" 1 -1 rest)
string(FIND "${rest}" "\n.SH " end)
if(NOT end EQUAL -1)
  string(SUBSTRING "${section}" 0 ${end} section)
endif()
set(in_page)
string(REGEX MATCHALL "\n\\.TP\n[^\n]*" entries "${section}")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\n\\.TP\n\\.?[A-Z]*" "" entry "${entry}")
  string(REPLACE "\\-" "-" entry "${entry}")
  string(REGEX MATCHALL "(^| )--?[A-Za-z][-A-Za-z0-9]*" names "${entry}")
  if(NOT names)
    string(REGEX MATCHALL "[A-Z][A-Z0-9_]*" names "${entry}")
  endif()
  foreach(name IN LISTS names)
    string(STRIP "${name}" name)
    list(APPEND in_page ${name})
  endforeach()
endforeach()

if(NOT in_help)
  message(FATAL_ERROR "no options found in the help of ${PROGRAM}:\n${help}")
endif()
set(missing ${in_help})
list(REMOVE_ITEM missing ${in_page})
set(extra ${in_page})
list(REMOVE_ITEM extra ${in_help})
set(twice ${in_page})
list(REMOVE_DUPLICATES twice)
list(LENGTH twice unique)
list(LENGTH in_page all)
if(missing OR extra OR NOT unique EQUAL all)
  message(FATAL_ERROR "${PAGE} and ${PROGRAM} --help disagree\n"
    "  in --help, not in the page: ${missing}\n"
    "  in the page, not in --help: ${extra}\n"
    "  page entries: ${in_page}")
endif()
message(STATUS "${PAGE}: ${in_page}")
