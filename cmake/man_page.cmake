# Writes a program's man page from its own --help, so the page cannot fall
# behind the program: help2man makes the page of the program, and for a
# program with subcommands (CLI11's "Subcommands:" list, followed down to
# the commands that have none) a COMMANDS section with the page help2man
# makes of each command's --help.
#
# cmake -DHELP2MAN=... -DPROGRAM=... -DNAME=... -DVERSION=... -DOUTPUT=...
#       [-DSEE_ALSO=...] -P man_page.cmake

foreach(var HELP2MAN PROGRAM NAME VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "man_page.cmake needs -D${var}=...")
  endif()
endforeach()
get_filename_component(program_name ${PROGRAM} NAME)

# The help text of `words` (a list: the command path), failing the build
# when the program does not give it.
function(help_of words out)
  execute_process(COMMAND ${PROGRAM} ${words} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program_name} ${words} --help failed: ${status}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The command paths below `words` that have no subcommands of their own,
# each as a string of words joined by spaces.
function(leaf_commands words out)
  help_of("${words}" text)
  set(found)
  string(FIND "${text}" "\nSubcommands:\n" at)
  if(at GREATER_EQUAL 0)
    string(SUBSTRING "${text}" ${at} -1 listing)
    string(REPLACE ";" "," listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^  ([a-z][a-z0-9_-]*)( |$)")
        set(below ${words} ${CMAKE_MATCH_1})
        leaf_commands("${below}" leaves)
        if(leaves)
          list(APPEND found ${leaves})
        else()
          list(JOIN below " " path)
          list(APPEND found "${path}")
        endif()
      endif()
    endforeach()
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(run_help2man out)
  execute_process(COMMAND ${HELP2MAN} --no-info ${ARGN} ${PROGRAM}
    OUTPUT_VARIABLE page RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man ${PROGRAM} failed: ${error}")
  endif()
  set(${out} "${page}" PARENT_SCOPE)
endfunction()

leaf_commands("" commands)
set(include_text "")
if(commands)
  string(APPEND include_text "[COMMANDS]\n")
  foreach(path IN LISTS commands)
    run_help2man(page --version-string=${VERSION} "--help-option=${path} --help")
    # The command's synopsis and everything from its description on, the
    # page's own sections turned into paragraphs within this one.
    string(REGEX REPLACE "^.*\n\\.SH SYNOPSIS\n" "" body "${page}")
    string(REPLACE "\n.SH DESCRIPTION\n" "\n.PP\n" body "${body}")
    string(REPLACE "\n.SH OPTIONS\n" "\n" body "${body}")
    string(REGEX REPLACE "\n\\.SS \"([^\"]*)\"\n" "\n.PP\n.I \"\\1\"\n" body "${body}")
    string(STRIP "${body}" body)
    string(APPEND include_text ".SS \"${program_name} ${path}\"\n${body}\n")
  endforeach()
endif()
if(DEFINED SEE_ALSO)
  string(APPEND include_text "[SEE ALSO]\n${SEE_ALSO}\n")
endif()

set(include_file ${OUTPUT}.h2m)
file(WRITE ${include_file} "${include_text}")
run_help2man(page --name=${NAME} --include=${include_file})
file(WRITE ${OUTPUT} "${page}")
