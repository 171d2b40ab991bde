# Writes the man page of rivetta-cli from the program's own help texts, so that the two never
# disagree: the general help, then each command listed under "commands:" with its --help.
# cmake -DCLI=path/to/rivetta-cli -DOUT=rivetta-cli.1 -DVERSION=x.y -P manpage.cmake

function(run_help out)
  execute_process(COMMAND ${CLI} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "rivetta-cli ${ARGN} failed: ${rc}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as troff: backslashes escaped, lines that start with a dot or a quote protected,
# every line kept as it is (.nf) so the option tables stay aligned.
function(to_troff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

run_help(general --help)
to_troff(body "${general}")
set(page ".TH RIVETTA\\-CLI 1 \"\" \"rivetta-cli ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nrivetta\\-cli \\- inspect and repair damaged AVI files\n")
string(APPEND page ".SH SYNOPSIS\n.B rivetta\\-cli\n.I COMMAND\n[options]\n")
string(APPEND page ".SH DESCRIPTION\n${body}")

# The command names: the first word of each indented line of the "commands:" section.
string(REGEX MATCH "commands:\n(  [^\n]*\n)+" section "${general}")
string(REGEX MATCHALL "\n  [a-z-]+" names "${section}")
string(APPEND page ".SH COMMANDS\n")
foreach(name ${names})
  string(STRIP "${name}" name)
  run_help(help ${name} --help)
  to_troff(body "${help}")
  string(APPEND page ".SS ${name}\n${body}")
endforeach()
string(APPEND page ".SH SEE ALSO\n.BR rivetta (1)\n")
file(WRITE "${OUT}" "${page}")
