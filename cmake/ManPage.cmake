# Writes a gzipped manual page from a program's own --help text, so that the page and the help
# cannot drift apart. Run with cmake -P and:
#   PROGRAM  the built program      NAME     its name        SUMMARY  one line for NAME
#   VERSION  the project version    OUTPUT   the .1.gz file to write
#   HELP     the option that prints the full help (--help by default)
if(NOT HELP)
    set(HELP --help)
endif()
execute_process(COMMAND ${PROGRAM} ${HELP} OUTPUT_VARIABLE text RESULT_VARIABLE status
                TIMEOUT 30)
if(NOT status EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} ${HELP} failed (${status}): no manual page")
endif()

# roff: backslashes and minus signs escaped, and no line may start with a control character.
string(REPLACE "\\" "\\e" text "${text}")
string(REPLACE "-" "\\-" text "${text}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
string(TOUPPER "${NAME}" title)
set(others)
foreach(program vornic vornic-cli kz2-sim)
    if(NOT program STREQUAL NAME)
        string(REPLACE "-" "\\-" program "${program}")
        list(APPEND others "${program}(1)")
    endif()
endforeach()
list(JOIN others ", " others)
string(REPLACE "-" "\\-" summary "${SUMMARY}")
set(page ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${summary}
.SH DESCRIPTION
.nf
${text}.fi
.SH SEE ALSO
${others}
")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
file(WRITE "${plain}" "${page}")
execute_process(COMMAND gzip -9nf "${plain}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${plain} failed")
endif()
