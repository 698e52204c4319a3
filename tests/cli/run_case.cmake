# Runs tarnwick-cli once and checks its exit status, standard output and standard error.
# CLI: the program; ARGS: its arguments separated by '|'; INPUT: file for standard input;
# EXIT: expected status; OUT: file with the exact standard output (or OUT_CONTAINS: a part of it);
# ERR_FIRST: the exact first line of standard error (or ERR_CONTAINS: a part of it).

# Adds a problem when text, the standard stream named by stream, lacks part.
function(expect_contains stream text part)
    string(FIND "${text}" "${part}" at)
    if(at EQUAL -1)
        set(problems "${problems}standard ${stream} lacks '${part}':\n${text}\n" PARENT_SCOPE)
    endif()
endfunction()

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
    expect_contains(output "${out}" "${OUT_CONTAINS}")
endif()
string(FIND "${err}" "\n" eol)
string(SUBSTRING "${err}" 0 ${eol} firstLine)
if(DEFINED ERR_FIRST AND NOT firstLine STREQUAL ERR_FIRST)
    string(APPEND problems "first line of standard error '${firstLine}', expected '${ERR_FIRST}'\n")
endif()
if(DEFINED ERR_CONTAINS)
    expect_contains(error "${err}" "${ERR_CONTAINS}")
endif()
if(NOT DEFINED ERR_FIRST AND NOT DEFINED ERR_CONTAINS AND NOT err STREQUAL "")
    string(APPEND problems "unexpected standard error:\n${err}\n")
endif()
if(problems)
    message(FATAL_ERROR "tarnwick-cli ${ARGS}\n${problems}")
endif()
