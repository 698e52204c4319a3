# Runs tarnwick-cli once and checks its exit status, standard output and standard error.
# CLI: the program; ARGS: its arguments separated by '|'; INPUT: file for standard input;
# EXIT: expected status; OUT: file with the exact standard output (or OUT_CONTAINS: a part of it);
# ERR_FIRST: the exact first line of standard error (or ERR_CONTAINS: a part of it).
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${CLI} ${args}
                INPUT_FILE "${INPUT}"
                OUTPUT_VARIABLE out
                ERROR_VARIABLE err
                RESULT_VARIABLE status)
set(problems "")
if(NOT status STREQUAL "${EXIT}")
    string(APPEND problems "exit status ${status}, expected ${EXIT}\n")
endif()
if(DEFINED OUT)
    file(READ "${OUT}" expected)
    if(NOT out STREQUAL expected)
        string(APPEND problems "standard output differs from ${OUT}:\n${out}\n")
    endif()
endif()
if(DEFINED OUT_CONTAINS)
    string(FIND "${out}" "${OUT_CONTAINS}" at)
    if(at EQUAL -1)
        string(APPEND problems "standard output lacks '${OUT_CONTAINS}':\n${out}\n")
    endif()
endif()
string(FIND "${err}" "\n" eol)
string(SUBSTRING "${err}" 0 ${eol} firstLine)
if(DEFINED ERR_FIRST AND NOT firstLine STREQUAL ERR_FIRST)
    string(APPEND problems "first line of standard error '${firstLine}', expected '${ERR_FIRST}'\n")
endif()
if(DEFINED ERR_CONTAINS)
    string(FIND "${err}" "${ERR_CONTAINS}" at)
    if(at EQUAL -1)
        string(APPEND problems "standard error lacks '${ERR_CONTAINS}':\n${err}\n")
    endif()
endif()
if(NOT DEFINED ERR_FIRST AND NOT DEFINED ERR_CONTAINS AND NOT err STREQUAL "")
    string(APPEND problems "unexpected standard error:\n${err}\n")
endif()
if(problems)
    message(FATAL_ERROR "tarnwick-cli ${ARGS}\n${problems}")
endif()
